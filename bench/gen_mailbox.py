#!/usr/bin/python3
"""Writes a synthetic mailbox tree for benchmarks: deterministic for a given seed.

    gen_mailbox.py OUT --messages N [--folders F] [--seed S] [--min-kb A] [--max-kb B]
                       [--attach-share 0.33] [--depth 6]

Message sizes follow a log-normal spread between --min-kb and --max-kb (most messages are a few
KB, a few are large), about a third carry an attachment, bodies are plain, HTML or both, in several
charsets and transfer encodings. Folders nest up to --depth levels, and a few files that are not
messages are scattered among them, as in a real saved mailbox.
"""
import argparse
import base64
import math
import os
import random

WORDS = ("mailbox store folder message quarterly report meeting invoice project budget schedule "
         "review draft figures customer delivery archive travel notes summary request answer").split()
CHARSETS = [("utf-8", "Grüße aus Köln, Łódź und Москва — "), ("iso-8859-1", "Café crème à la française "),
            ("windows-1251", "Привет из Москвы "), ("koi8-r", "Отчёт за квартал "),
            ("iso-8859-2", "Pozdrowienia z Łodzi "), ("us-ascii", "Plain old ASCII text ")]


def words(rng, n):
    return " ".join(rng.choice(WORDS) for _ in range(n))


def paragraph_bytes(rng, size, prefix):
    out, total = [], 0
    while total < size:
        line = prefix + words(rng, 12) + "\n"
        out.append(line)
        total += len(line.encode("utf-8"))
    return "".join(out)


def message(rng, index, size):
    charset, sample = rng.choice(CHARSETS)
    kind = rng.random()
    attach = rng.random() < ARGS.attach_share
    attach_size = int(size * rng.uniform(0.5, 0.9)) if attach else 0
    body_size = max(200, size - attach_size - 800)
    text = paragraph_bytes(rng, body_size, sample)
    try:
        text.encode(charset)
    except UnicodeEncodeError:
        charset, text = "utf-8", text
    day = 1 + index % 28
    headers = (
        f"From: Sender {index % 97} <sender{index % 97}@example.org>\n"
        f"To: Reader {index % 13} <reader{index % 13}@example.org>, team@example.org\n"
        f"Subject: {words(rng, 5)} #{index}\n"
        f"Date: Mon, {day:02d} Nov 2026 {index % 24:02d}:{index % 60:02d}:00 +0100\n"
        f"Message-ID: <bench-{index}@example.org>\n"
        f"Received: from mx.example.org by mail.example.org; Mon, {day:02d} Nov 2026 "
        f"{index % 24:02d}:{index % 60:02d}:05 +0100\n"
        "MIME-Version: 1.0\n")
    qp = rng.random() < 0.5
    encoded = text.encode(charset)
    if qp:
        import quopri
        part_body = quopri.encodestring(encoded).decode("ascii")
        cte = "quoted-printable"
    else:
        part_body = base64.encodebytes(encoded).decode("ascii")
        cte = "base64"
    plain = f"Content-Type: text/plain; charset={charset}\nContent-Transfer-Encoding: {cte}\n\n{part_body}"
    html = ("Content-Type: text/html; charset=utf-8\nContent-Transfer-Encoding: base64\n\n" +
            base64.encodebytes(("<html><body><p>" + text[:2000].replace("\n", "</p><p>") +
                                "</p></body></html>").encode("utf-8")).decode("ascii"))
    if kind < 0.4:
        body = plain
    elif kind < 0.6:
        body = html
    else:
        body = ("Content-Type: multipart/alternative; boundary=\"alt\"\n\n--alt\n" + plain + "\n--alt\n" + html +
                "\n--alt--\n")
    if not attach:
        return headers + body
    blob = bytes(rng.getrandbits(8) for _ in range(min(attach_size, 4096)))
    blob = (blob * (attach_size // max(1, len(blob)) + 1))[:attach_size]
    attachment = ("Content-Type: application/octet-stream; name=\"file{0}.bin\"\n"
                  "Content-Disposition: attachment; filename=\"file{0}.bin\"\n"
                  "Content-Transfer-Encoding: base64\n\n").format(index) + base64.encodebytes(blob).decode("ascii")
    return (headers + "Content-Type: multipart/mixed; boundary=\"mix\"\n\n--mix\n" + body + "\n--mix\n" +
            attachment + "\n--mix--\n")


def folders(rng, count, depth):
    paths = [""]
    for i in range(1, count):
        parent = rng.choice([p for p in paths if p.count("/") < depth - 1] or [""])
        name = rng.choice(["Inbox", "Sent", "Archive", "Projects", "Clients", "Travel", "Old"]) + f" {i}"
        paths.append((parent + "/" + name).lstrip("/"))
    return paths


def size_kb(rng):
    # Log-normal with its median near 8 KB, cut to the range asked for.
    return min(max(rng.lognormvariate(math.log(8), 1.1), ARGS.min_kb), ARGS.max_kb)


def main():
    rng = random.Random(ARGS.seed)
    paths = folders(rng, ARGS.folders, ARGS.depth)
    for p in paths:
        os.makedirs(os.path.join(ARGS.out, p), exist_ok=True)
    total = 0
    for i in range(ARGS.messages):
        folder = paths[i % len(paths)]
        text = message(rng, i, int(size_kb(rng) * 1024))
        name = f"{i:07d}.eml"
        with open(os.path.join(ARGS.out, folder, name), "w", encoding="utf-8", newline="\n") as fh:
            fh.write(text)
        total += len(text)
        if i % 997 == 0:
            with open(os.path.join(ARGS.out, folder, f"notes-{i}.txt"), "w") as fh:
                fh.write("not a message\n")
    print(f"{ARGS.messages} messages, {len(paths)} folders, {total / 1e6:.1f} MB in {ARGS.out}")


if __name__ == "__main__":
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("out")
    parser.add_argument("--messages", type=int, default=10000)
    parser.add_argument("--folders", type=int, default=200)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--min-kb", type=float, default=1)
    parser.add_argument("--max-kb", type=float, default=10240)
    parser.add_argument("--attach-share", type=float, default=1 / 3)
    parser.add_argument("--depth", type=int, default=6)
    ARGS = parser.parse_args()
    main()
