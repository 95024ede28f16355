#!/usr/bin/python3
"""Reads a .pst with the independent readers and prints what each of them saw, as JSON.

    pst_dump.py pypff FILE      folder tree with every message (python3-pypff, libpff)
    pst_dump.py readpst FILE    messages per folder as exported by readpst, and its log's errors
    pst_dump.py extractor FILE  folder tree and subjects as pst-extractor (npm) lists them
    pst_dump.py all FILE        the three together
    pst_dump.py tree FILE       the folder tree and subjects as pypff reads them, as indented text

Tests compare these with what they wrote. Run it with Debian's /usr/bin/python3: pypff is
installed for that interpreter only.
"""
import hashlib
import json
import os
import re
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))


def _text(value):
    if value is None:
        return None
    if isinstance(value, bytes):
        return value.decode("utf-8", "replace")
    return value


def _digest(data):
    return hashlib.sha1(data).hexdigest() if data is not None else None


# The integer properties that say what was done with a message: message flags, follow-up flag and
# its colour, list icon, last verb.
_STATE_TAGS = {0x0E07: "flags", 0x1090: "flag_status", 0x1095: "followup_icon", 0x1080: "icon_index",
               0x1081: "last_verb"}


def _state(m):
    state = {}
    for i in range(m.number_of_record_sets):
        record_set = m.get_record_set(i)
        for j in range(record_set.number_of_entries):
            entry = record_set.get_entry(j)
            name = _STATE_TAGS.get(entry.entry_type)
            if name is not None and entry.value_type == 0x0003:
                state[name] = entry.get_data_as_integer()
    return state


def _message(m):
    attachments = []
    for i in range(m.number_of_attachments):
        a = m.get_attachment(i)
        size = a.get_size()
        data = a.read_buffer(size) if size else b""
        attachments.append({"size": size, "sha1": _digest(data)})
    html = m.html_body
    return {
        "subject": _text(m.subject),
        "sender": _text(m.sender_name),
        "submit": str(m.client_submit_time) if m.client_submit_time else None,
        "delivery": str(m.delivery_time) if m.delivery_time else None,
        "body": _text(m.plain_text_body),
        "html_sha1": _digest(html),
        "headers": _text(m.transport_headers),
        "attachments": attachments,
        "state": _state(m),
    }


def _folder(f):
    return {
        "name": _text(f.name),
        "messages": [_message(f.get_sub_message(i)) for i in range(f.number_of_sub_messages)],
        "folders": [_folder(f.get_sub_folder(i)) for i in range(f.number_of_sub_folders)],
    }


def dump_pypff(path):
    import pypff  # Debian's python3-pypff

    f = pypff.file()
    f.open(path)
    try:
        return _folder(f.get_root_folder())
    finally:
        f.close()


# What libpst logs without a fault in the store: a look-up of an optional structure that is not
# there and its guess at an attachment's id (both also on stores written by Outlook), and a
# recipient table without rows, which libpst takes for a broken record but exports the message
# all the same (a message with no recipient at all has such a table).
_BENIGN = ("pst_getID2 libpst.c", "cannot locate id2 value", "error processing main DSN/MDN record")
# Only libpst's own log lines count; the debug log also holds message text.
_LOG_LINE = re.compile(r"^\d+\s+\w+ libpst\.c\(\d+\) (ERROR|WARN)")


def dump_readpst(path):
    with tempfile.TemporaryDirectory() as out:
        log = os.path.join(out, "debug.log")
        export = os.path.join(out, "export")
        os.mkdir(export)
        run = subprocess.run(["readpst", "-D", "-r", "-j0", "-8", "-o", export, "-d", log, path],
                             capture_output=True, text=True)
        folders = {}
        for root, _dirs, files in os.walk(export):
            for name in files:
                if name != "mbox":
                    continue
                with open(os.path.join(root, name), "rb") as fh:
                    count = sum(1 for line in fh if line.startswith(b"From "))
                folders[os.path.relpath(root, export)] = count
        errors = []
        if os.path.exists(log):
            with open(log, "r", errors="replace") as fh:
                for line in fh:
                    if _LOG_LINE.match(line.strip()) and not any(b in line for b in _BENIGN):
                        errors.append(line.strip())
        return {"returncode": run.returncode, "stderr": run.stderr[-2000:], "folders": folders,
                "errors": errors[:50]}


def dump_extractor(path):
    script = os.path.join(HERE, "extractor_dump.js")
    run = subprocess.run(["node", script, path], capture_output=True, text=True, cwd=HERE)
    if run.returncode != 0:
        return {"error": run.stderr[-2000:]}
    return json.loads(run.stdout)


def print_tree(folder, depth=0):
    name = folder["name"] if folder["name"] is not None else "(root)"
    print(f"{'  ' * depth}{name}/  ({len(folder['messages'])} messages)")
    for m in folder["messages"]:
        extra = f", {len(m['attachments'])} attachment(s)" if m["attachments"] else ""
        print(f"{'  ' * depth}  - {m['subject']!r} from {m['sender']!r}{extra}")
    for child in folder["folders"]:
        print_tree(child, depth + 1)


def main(argv):
    if len(argv) != 3 or argv[1] not in ("pypff", "readpst", "extractor", "all", "tree"):
        print(__doc__, file=sys.stderr)
        return 2
    kind, path = argv[1], argv[2]
    if kind == "tree":
        print_tree(dump_pypff(path))
        return 0
    if kind == "all":
        result = {"pypff": dump_pypff(path), "readpst": dump_readpst(path), "extractor": dump_extractor(path)}
    else:
        result = {"pypff": dump_pypff, "readpst": dump_readpst, "extractor": dump_extractor}[kind](path)
    json.dump(result, sys.stdout, ensure_ascii=False, indent=1)
    print()
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
