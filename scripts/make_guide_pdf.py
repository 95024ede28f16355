#!/usr/bin/python3
"""Writes the store guide that the "Outlook Error" box names, as a one-page PDF, into
help/help/downgrade-office-2010-to-32-bit.pdf. The path is fixed by the message; the content is
what helps a user of this program, which needs no Outlook at all."""
import os

TITLE = "When a data file cannot be written"
LINES = [
    "Quillsort writes Outlook data files (.pst) with its own code. It needs no Outlook, of any",
    "version or width, so there is nothing to install or downgrade. When the message",
    "\"Outlook Session Creation Error !\" appears, its last lines give the real cause. The usual ones:",
    "",
    "- \"No such file or directory\": the folder chosen for the data file does not exist (any more).",
    "  Choose an existing folder, or create it first.",
    "- \"Permission denied\" or \"Read-only file system\": you may not write in that folder.",
    "  Choose a folder of your own, such as your Documents folder.",
    "- \"No space left on device\": the disk is full. A data file needs about as much room as",
    "  the messages it holds. Free some space, or choose another disk.",
    "- A network folder that went away during the run: choose a local folder, and copy the",
    "  data file over afterwards.",
    "",
    "Nothing is lost when a data file cannot be written: your message files are only read, an",
    "existing data file is replaced only when the new one is complete, and an unfinished file is",
    "removed. Run the conversion again once the cause is mended.",
    "",
    "The other folders of a run go on; the box at the end of the run names every folder whose",
    "data file could not be written, and every message file that could not be converted.",
]


def escape(text):
    return text.replace("\\", "\\\\").replace("(", "\\(").replace(")", "\\)")


def main():
    ops = ["BT", "/F2 16 Tf", "56 780 Td", f"({escape(TITLE)}) Tj", "/F1 10.5 Tf", "0 -30 Td", "14 TL"]
    for line in LINES:
        ops.append(f"({escape(line)}) Tj T*")
    ops.append("ET")
    stream = "\n".join(ops).encode("latin-1")
    objects = [
        b"<< /Type /Catalog /Pages 2 0 R >>",
        b"<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 595 842] /Contents 4 0 R "
        b"/Resources << /Font << /F1 5 0 R /F2 6 0 R >> >> >>",
        b"<< /Length " + str(len(stream)).encode() + b" >>\nstream\n" + stream + b"\nendstream",
        b"<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>",
        b"<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica-Bold >>",
    ]
    out = bytearray(b"%PDF-1.4\n")
    offsets = []
    for i, body in enumerate(objects, 1):
        offsets.append(len(out))
        out += f"{i} 0 obj\n".encode() + body + b"\nendobj\n"
    xref = len(out)
    out += f"xref\n0 {len(objects) + 1}\n0000000000 65535 f \n".encode()
    for off in offsets:
        out += f"{off:010d} 00000 n \n".encode()
    out += f"trailer\n<< /Size {len(objects) + 1} /Root 1 0 R >>\nstartxref\n{xref}\n%%EOF\n".encode()
    target = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "help", "help",
                          "downgrade-office-2010-to-32-bit.pdf")
    os.makedirs(os.path.dirname(target), exist_ok=True)
    with open(target, "wb") as fh:
        fh.write(out)


if __name__ == "__main__":
    main()
