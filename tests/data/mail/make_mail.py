#!/usr/bin/env python3
"""Writes the test messages of mime/message_file_test.cpp into this folder.

The messages are committed; run this again only to change them. Each charset case holds the same
kind of text in its subject (an encoded word in that charset) and its body, so the test can check
both decodings against one expected string.
"""
import base64
import os
import quopri

HERE = os.path.dirname(os.path.abspath(__file__))


def write(name, data):
    if isinstance(data, str):
        data = data.encode("ascii")
    with open(os.path.join(HERE, name), "wb") as f:
        f.write(data)


def b64(data, width=76):
    s = base64.b64encode(data).decode("ascii")
    return "\n".join(s[i:i + width] for i in range(0, len(s), width)) + "\n"


def ew(text, charset, enc):
    raw = text.encode(charset)
    if enc == "B":
        return "=?%s?B?%s?=" % (charset, base64.b64encode(raw).decode("ascii"))
    q = "".join(
        "_" if b == 0x20 else (chr(b) if (0x30 <= b < 0x7F and chr(b) not in "=?_") or chr(b).isalpha() and b < 0x80 else "=%02X" % b)
        for b in raw)
    return "=?%s?Q?%s?=" % (charset, q)


CHARSETS = [
    # file, charset label, Python codec, transfer encoding, text
    ("charset-utf-8.eml", "utf-8", "utf-8", "8bit", "Grüße aus Köln – 東京 🙂"),
    ("charset-iso-8859-1.eml", "iso-8859-1", "latin-1", "quoted-printable", "Café crème à la française"),
    ("charset-iso-8859-2.eml", "iso-8859-2", "iso-8859-2", "8bit", "Zażółć gęślą jaźń"),
    ("charset-iso-8859-15.eml", "iso-8859-15", "iso-8859-15", "quoted-printable", "Prix : 100 € pour l'œuvre"),
    ("charset-windows-1250.eml", "windows-1250", "cp1250", "base64", "Příliš žluťoučký kůň úpěl ďábelské ódy"),
    ("charset-windows-1251.eml", "windows-1251", "cp1251", "8bit", "Привет, мир! Съешь ещё"),
    ("charset-windows-1252.eml", "windows-1252", "cp1252", "quoted-printable", "“Smart quotes” – and € … ™"),
    ("charset-koi8-r.eml", "koi8-r", "koi8-r", "8bit", "Съешь же ещё этих мягких французских булок"),
    ("charset-shift_jis.eml", "shift_jis", "shift_jis", "base64", "日本語のテキストです"),
    ("charset-iso-2022-jp.eml", "iso-2022-jp", "iso-2022-jp", "7bit", "こんにちは、世界"),
    ("charset-gb18030.eml", "gb18030", "gb18030", "base64", "简体中文测试：你好"),
    ("charset-big5.eml", "big5", "big5", "8bit", "繁體中文測試：您好"),
]


def charset_messages():
    for name, label, codec, cte, text in CHARSETS:
        body = (text + "\n").encode(codec)
        if cte == "quoted-printable":
            payload = quopri.encodestring(body)
        elif cte == "base64":
            payload = b64(body).encode("ascii")
        else:
            payload = body
        head = (
            "From: Tester <tester@example.org>\n"
            "To: reader@example.org\n"
            "Subject: %s\n"
            "Date: Mon, 02 Mar 2026 10:00:00 +0000\n"
            "MIME-Version: 1.0\n"
            "Content-Type: text/plain; charset=\"%s\"\n"
            "Content-Transfer-Encoding: %s\n\n"
        ) % (ew(text, label, "B" if cte == "base64" else "Q"), label, cte)
        write(name, head.encode("ascii") + payload)


def header_messages():
    write("headers.eml", (
        "Received: from mx2.example.net by mx1.example.org; Tue, 03 Mar 2026 09:15:00 +0100\n"
        "Received: from laptop by mx2.example.net; Tue, 03 Mar 2026 08:14:00 +0100\n"
        "From: =?utf-8?q?J=C3=BCrgen_M=C3=BCller?= <juergen@example.de>\n"
        "Sender: Assistant <assistant@example.de>\n"
        "Reply-To: replies@example.de\n"
        "To: Team: anna@example.org, \"Berg, Bob\" <bob@example.org>;,\n"
        " undisclosed-recipients:;, carol@example.org\n"
        "Cc: \"Doe, John\" <john@example.com>\n"
        "Bcc: hidden@example.com\n"
        "Subject: Re: =?iso-8859-1?q?Sitzungsprotokoll_f=FCr_?= =?utf-8?b?TcOkcno=?=\n"
        "Date: Tue, 03 Mar 2026 08:13:00 +0200\n"
        "Message-ID: <abc.123@example.de>\n"
        "In-Reply-To: <prev.1@example.org>\n"
        "References: <root.0@example.org>\n"
        "\t<prev.1@example.org>\n"
        "X-Priority: 1 (Highest)\n"
        "Sensitivity: Private\n"
        "MIME-Version: 1.0\n"
        "Content-Type: text/plain; charset=us-ascii\n"
        "\n"
        "See the minutes.\n"))
    # Encoded words that break: mixed charsets, a UTF-8 character split between two words, an
    # unknown encoding letter, an unterminated word, and base64 words that each end in padding.
    write("subject-broken-words.eml", (
        "From: a@example.org\n"
        "Subject: =?iso-8859-1?q?caf=E9?= =?utf-8?b?4oI=?= =?utf-8?b?rA==?= =?x?y?z?= end =?utf-8?q?open\n"
        "\n"
        "x\n"))
    write("subject-padded-words.eml", (
        "From: a@example.org\n"
        "Subject: =?UTF-8?B?TXlTdXJ2ZXk=?=\n"
        " =?UTF-8?B?LmNvbTogIFk=?=\n"
        " =?UTF-8?B?b3UgaGF2ZSA=?=\n"
        "\n"
        "x\n"))
    # Display names and file names as several padded base64 words, a character split between two
    # words, and a content type too broken for its parameters to survive.
    write("encoded-names.eml", (
        "From: =?UTF-8?B?TXlTdXJ2ZXk=?= =?UTF-8?B?LmNvbQ==?= <survey@example.org>\n"
        "To: \"=?utf-8?b?4oI=?= =?utf-8?b?rA==?= Desk\" <euro@example.org>, plain@example.org,\n"
        " Team: =?iso-8859-1?q?J=F6rg?= <joerg@example.org>;\n"
        "Subject: Names\nMIME-Version: 1.0\nContent-Type: multipart/mixed; boundary=\"n\"\n\n"
        "--n\nContent-Type: text/plain\n\nSee files.\n"
        "--n\nContent-Type: application/octet-stream; name=\"=?UTF-8?B?w6TDtg==?= =?UTF-8?B?w7wuYmlu?=\"\n\nabc\n"
        "--n\nContent-Type: application-x-gzip; name=\"document.xml.gz\"\n\nxyz\n"
        "--n--\n"))
    write("no-from.eml", "Subject: Nobody sent this\nDate: Wed, 04 Mar 2026 12:00:00 +0000\n\nBody without sender.\n")
    write("no-date.eml", "From: a@example.org\nSubject: Timeless\n\nNo date here.\n")
    write("invalid-date.eml", "From: a@example.org\nSubject: Bad date\nDate: yesterday at noon\nImportance: low\n\nDate makes no sense.\n")
    write("no-headers.eml", "This file has no header section at all.\nSecond line: still text.\n")
    write("empty.eml", b"")
    write("undeclared-8bit-latin.eml", b"From: a@example.org\nSubject: Gr\xfc\xdfe\n\nPreis: 5 \x80, Gr\xfc\xdfe\n")
    write("undeclared-8bit-utf8.eml", "From: a@example.org\nSubject: Grüße\n\nPreis: 5 €, Grüße\n".encode("utf-8"))
    write("mbox-from-line.eml", "From sender@example.org Thu Mar  5 10:00:00 2026\nFrom: sender@example.org\nSubject: Saved from mbox\n\nBody.\n")
    write("bom.eml", b"\xef\xbb\xbfFrom: a@example.org\nSubject: After a BOM\n\nBody.\n")


PNG = bytes.fromhex("89504e470d0a1a0a0000000d4948445200000001000000010806000000"
                    "1f15c4890000000d49444154789c6360000002000154a24f5d0000000049454e44ae426082")


def structure_messages():
    write("multipart-alternative.eml", (
        "From: a@example.org\nSubject: Alternative\nMIME-Version: 1.0\n"
        "Content-Type: multipart/alternative; boundary=\"alt\"\n\n"
        "--alt\nContent-Type: text/plain; charset=utf-8\nContent-Transfer-Encoding: quoted-printable\n\n"
        "Plain version: caf=C3=A9\n"
        "--alt\nContent-Type: text/enriched\n\n<bold>Enriched</bold>\n"
        "--alt\nContent-Type: text/html; charset=utf-8\n\n"
        "<html><body><p>HTML version: café</p></body></html>\n"
        "--alt--\n").encode("utf-8"))
    png = b64(PNG)
    write("multipart-related.eml", (
        "From: a@example.org\nSubject: Related\nMIME-Version: 1.0\n"
        "Content-Type: multipart/alternative; boundary=\"alt\"\n\n"
        "--alt\nContent-Type: text/plain\n\nLogo below.\n"
        "--alt\nContent-Type: multipart/related; boundary=\"rel\"; type=\"text/html\"\n\n"
        "--rel\nContent-Type: text/html; charset=us-ascii\n\n"
        "<html><body>Logo: <img src=\"cid:Logo.1@example.org\"> <img src=\"http://example.org/by-location.png\"></body></html>\n"
        "--rel\nContent-Type: image/png; name=logo.png\nContent-Transfer-Encoding: base64\n"
        "Content-ID: <logo.1@example.org>\nContent-Disposition: inline; filename=logo.png\n\n" + png +
        "--rel\nContent-Type: image/png; name=unused.png\nContent-Transfer-Encoding: base64\n"
        "Content-ID: <unused@example.org>\nContent-Location: http://example.org/unused.png\n\n" + png +
        "--rel\nContent-Type: image/png\nContent-Transfer-Encoding: base64\n"
        "Content-Location: http://example.org/by-location.png\n\n" + png +
        "--rel--\n--alt--\n"))
    pdf = b"%PDF-1.4\n" + bytes(range(256)) + b"\n%%EOF\n"
    write("multipart-mixed.eml", (
        "From: a@example.org\nSubject: Three attachments\nMIME-Version: 1.0\n"
        "Content-Type: multipart/mixed; boundary=\"mix\"\n\n"
        "This is a multi-part message in MIME format.\n"
        "--mix\nContent-Type: text/plain; charset=utf-8\n\nSee attached.\n"
        "--mix\nContent-Type: application/pdf\nContent-Transfer-Encoding: base64\n"
        "Content-Disposition: attachment; filename*=utf-8''Bericht%20%C3%BCber%20M%C3%A4rz.pdf\n\n" + b64(pdf) +
        "--mix\nContent-Type: text/plain; charset=us-ascii\nContent-Disposition: attachment; filename=\"notes.txt\"\n\n"
        "line one\nline two\n"
        "--mix\nContent-Type: image/png; name=\"=?utf-8?q?Fr=C3=BChling.png?=\"\nContent-Transfer-Encoding: base64\n\n" + b64(PNG) +
        "--mix\nContent-Type: application/octet-stream\nContent-Transfer-Encoding: base64\n"
        "Content-Disposition: attachment;\n filename*0*=iso-8859-1''%E9t%E9%20;\n filename*1=report.bin\n\n" + b64(b"\x00\x01\x02") +
        "--mix--\n"))
    write("forwarded.eml", (
        "From: a@example.org\nSubject: Fwd: Original\nMIME-Version: 1.0\n"
        "Content-Type: multipart/mixed; boundary=\"outer\"\n\n"
        "--outer\nContent-Type: text/plain\n\nForwarding this.\n"
        "--outer\nContent-Type: message/rfc822\nContent-Disposition: attachment; filename=\"original.eml\"\n\n"
        "From: Original Sender <orig@example.com>\nTo: a@example.org\nSubject: Original\n"
        "Date: Sun, 01 Mar 2026 07:00:00 +0000\nMIME-Version: 1.0\n"
        "Content-Type: multipart/mixed; boundary=\"inner\"\n\n"
        "--inner\nContent-Type: text/plain\n\nThe original text.\n"
        "--inner\nContent-Type: text/csv; name=data.csv\nContent-Disposition: attachment; filename=data.csv\n\n"
        "a,b\n1,2\n"
        "--inner--\n"
        "--outer--\n"))
    write("signed.eml", (
        "From: a@example.org\nSubject: Signed\nMIME-Version: 1.0\n"
        "Content-Type: multipart/signed; protocol=\"application/pkcs7-signature\"; micalg=sha-256; boundary=\"sig\"\n\n"
        "--sig\nContent-Type: multipart/alternative; boundary=\"alt\"\n\n"
        "--alt\nContent-Type: text/plain\n\nSigned text.\n"
        "--alt\nContent-Type: text/html\n\n<p>Signed <b>HTML</b>.</p>\n"
        "--alt--\n"
        "--sig\nContent-Type: application/pkcs7-signature; name=smime.p7s\nContent-Transfer-Encoding: base64\n"
        "Content-Disposition: attachment; filename=smime.p7s\n\n" + b64(b"0\x82\x01\x00fake-signature") +
        "--sig--\n"))
    write("html-only.eml", (
        b"From: a@example.org\nSubject: HTML only\nMIME-Version: 1.0\nContent-Type: text/html\n\n"
        b"<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=windows-1252\">"
        b"<title>T</title><style>p {color: red}</style></head>"
        b"<body><p>Caf\xe9 &amp; cr&egrave;me&nbsp;&#8364;</p><p>Line&nbsp;two<br>Line three</p>"
        b"<script>var x = '<p>no</p>';</script><!-- hidden --></body></html>\n"))
    write("broken-boundary.eml", (
        "From: a@example.org\nSubject: Broken boundary\nMIME-Version: 1.0\n"
        "Content-Type: multipart/mixed; boundary=\"declared\"\n\n"
        "--actual\nContent-Type: text/plain\n\nText that is still worth keeping.\n--actual--\n"))
    write("missing-blank-lines.eml", (
        "From: a@example.org\nSubject: No empty lines\nMIME-Version: 1.0\n"
        "Content-Type: multipart/mixed; boundary=\"m\"\n"
        "--m\nContent-Type: text/plain\n\nBody text.\n"
        "--m\nContent-Type: application/octet-stream; name=data.bin\nContent-Transfer-Encoding: base64\n"
        "AAECAwQFBgcICQ==\n"
        "\n--m--\n"))
    write("body-after-headers.eml", "From: a@example.org\nSubject: Straight in\nHello there,\nsecond line.\n")
    full = b64(bytes(range(200)))
    write("truncated-base64.eml", (
        "From: a@example.org\nSubject: Truncated\nMIME-Version: 1.0\n"
        "Content-Type: multipart/mixed; boundary=\"t\"\n\n"
        "--t\nContent-Type: text/plain\n\nAttachment follows.\n"
        "--t\nContent-Type: application/octet-stream; name=cut.bin\nContent-Transfer-Encoding: base64\n\n" +
        full[:152]))


def date_messages():
    # Forms of Date found in real mail that a strict reading gets wrong.
    dates = [
        ("date-lowercase-zone.eml", "Tue, 1 Jul 2003 10:52:37 cst"),
        ("date-glued-zone.eml", "Thu, 13 Feb 2003 11:36:12+0000"),
        ("date-three-digit-year.eml", "Tue, 13 Feb 101 11:36:12 +0000"),
        ("date-comment-zone.eml", "Thu, 13 Feb 2003 11:36:12 (EDT) -0400"),
    ]
    for name, date in dates:
        write(name, "Received: from relay by mx; Fri, 14 Mar 2003 09:00:00 +0000\n"
                    "From: a@example.org\nSubject: Dated\nDate: %s\n\nBody.\n" % date)


def bare_text_messages():
    # "text" with no subtype, once as the whole message and once as a part.
    write("text-without-subtype.eml",
          b"From: a@example.org\nSubject: Bare text\nMIME-Version: 1.0\nContent-Type: text; charset=iso-8859-1\n"
          b"Content-Transfer-Encoding: 8bit\n\nCaf\xe9 au lait\n")
    write("text-part-without-subtype.eml", (
        "From: a@example.org\nSubject: Bare text part\nMIME-Version: 1.0\n"
        "Content-Type: multipart/mixed; boundary=\"b\"\n\n"
        "--b\nContent-Type: TEXT\n\nThe only text.\n"
        "--b\nContent-Type: application/pdf; name=a.pdf\nContent-Transfer-Encoding: base64\n\n" + b64(b"%PDF-1.4\n") +
        "--b--\n"))


def stray_cr_messages():
    # CR LF lines, but the closing delimiter's line ends in LF only.
    write("crlf-part-lf-delimiter.eml", (
        "From: a@example.org\r\nSubject: Delimiter in LF\r\nMIME-Version: 1.0\r\n"
        "Content-Type: multipart/mixed; boundary=\"d\"\r\n\r\n"
        "--d\r\nContent-Type: text/plain\r\n\r\nSee the notes.\r\n"
        "--d\r\nContent-Type: text/plain; name=notes.txt\r\nContent-Transfer-Encoding: 7bit\r\n"
        "Content-Disposition: attachment; filename=notes.txt\r\n\r\nline one\r\nline two\r\n"
        "--d--\n"))


def windows_iso_2022_jp_messages():
    # ISO-2022-JP as Japanese Windows writes it: NEC row 13 (No., circled one, Roman one, (Kabu))
    # and an NEC-selected IBM extension, none of them in JIS X 0208 proper.
    jis = b"\x1b$B-b-!-5-jy!\x1b(B"
    write("charset-iso-2022-jp-windows.eml", (
        b"From: Tester <tester@example.org>\nSubject: =?ISO-2022-JP?B?" + base64.b64encode(jis) + b"?=\n"
        b"MIME-Version: 1.0\nContent-Type: text/plain; charset=ISO-2022-JP\nContent-Transfer-Encoding: 7bit\n\n" +
        jis + b"\n"))


def emlx_messages():
    msg = b"From: a@example.org\nSubject: Apple Mail\nDate: Thu, 05 Mar 2026 10:00:00 +0000\n\nHello from Mail.app.\n"
    plist = (b'<?xml version="1.0" encoding="UTF-8"?>\n'
             b'<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">\n'
             b'<plist version="1.0">\n<dict>\n\t<key>date-received</key>\n\t<integer>1772704800</integer>\n'
             b'\t<key>flags</key>\n\t<integer>8590195729</integer>\n</dict>\n</plist>\n')
    write("apple.emlx", str(len(msg)).encode() + b"        \n" + msg + plist)
    write("apple-wrong-count.emlx", b"9999\n" + msg + plist)
    write("apple-no-count.emlx", msg + plist)


def state_messages():
    """What mail programs record of a message: unread, flagged, answered, forwarded."""
    write("state-mbox.eml", "From: a@example.org\nSubject: mbox state\nStatus: O\nX-Status: AF\n\n"
                            "Seen by the mail program, answered and flagged, not opened.\n")
    write("state-thunderbird.eml", "From: a@example.org\nSubject: Thunderbird state\nX-Mozilla-Status: 1006\n"
                                   "X-Mozilla-Status2: 00000000\n\nReplied, flagged and forwarded, unread.\n")
    msg = b"From: a@example.org\nSubject: Apple Mail unread\n\nAnswered (1<<2), flagged (1<<4), unread.\n"
    plist = (b'<?xml version="1.0" encoding="UTF-8"?>\n<plist version="1.0">\n<dict>\n'
             b'\t<key>flags</key>\n\t<integer>20</integer>\n</dict>\n</plist>\n')
    write("apple-unread.emlx", str(len(msg)).encode() + b"\n" + msg + plist)


if __name__ == "__main__":
    charset_messages()
    header_messages()
    structure_messages()
    date_messages()
    bare_text_messages()
    stray_cr_messages()
    windows_iso_2022_jp_messages()
    emlx_messages()
    state_messages()
