#!/usr/bin/python3
"""Writes winmail.dat (TNEF) streams and the .eml messages that carry them, built from the
published format descriptions alone, for the TNEF tests:

  make_tnef.py OUTDIR

The RTF body is compressed here with a compressor of this script's own (greedy longest match
against the 4096-byte dictionary), so the importer's decompressor is checked against an
independent writer rather than against itself.
"""

import base64
import os
import struct
import sys

SIGNATURE = 0x223E9F78
LVL_MESSAGE, LVL_ATTACHMENT = 1, 2
ATT_TNEF_VERSION = 0x00089006
ATT_OEM_CODEPAGE = 0x00069007
ATT_MESSAGE_CLASS = 0x00078008
ATT_SUBJECT = 0x00018004
ATT_MSG_PROPS = 0x00069003
ATT_ATTACH_REND_DATA = 0x00069002
ATT_ATTACH_TITLE = 0x00018010
ATT_ATTACH_DATA = 0x0006800F
ATT_ATTACHMENT = 0x00069005

PT_INT32, PT_BOOLEAN, PT_OBJECT, PT_STRING8, PT_UNICODE, PT_BINARY = 0x3, 0xB, 0xD, 0x1E, 0x1F, 0x102
MV = 0x1000
IID_IMESSAGE = bytes([0x07, 0x03, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0xC0, 0, 0, 0, 0, 0, 0, 0x46])

PROLOGUE = (b'{\\rtf1\\ansi\\mac\\deff0\\deftab720{\\fonttbl;}{\\f0\\fnil \\froman \\fswiss \\fmodern \\fscript '
            b'\\fdecor MS Sans SerifSymbolArialTimes New RomanCourier{\\colortbl\\red0\\green0\\blue0\r\n\\par '
            b'\\pard\\plain\\f0\\fs20\\b\\i\\u\\tab\\tx')
assert len(PROLOGUE) == 207


def crc32_rtf(data):
    """CRC-32, reflected polynomial, started at 0 and not inverted (zlib's crc32 is not this)."""
    table = []
    for i in range(256):
        c = i
        for _ in range(8):
            c = (0xEDB88320 ^ (c >> 1)) if c & 1 else c >> 1
        table.append(c)
    crc = 0
    for b in data:
        crc = table[(crc ^ b) & 0xFF] ^ (crc >> 8)
    return crc


def compress_rtf(raw):
    """LZFu: runs of eight tokens behind a control byte, a set bit meaning a big-endian
    (offset << 4 | length - 2) reference into the dictionary."""
    assert len(raw) + len(PROLOGUE) < 4096, 'kept below one dictionary length'
    dictionary = bytearray(4096)
    dictionary[:len(PROLOGUE)] = PROLOGUE
    write = len(PROLOGUE)
    tokens = []  # (is_reference, bytes)
    i = 0
    while i < len(raw):
        best_len, best_off = 0, 0
        for off in range(write):  # filled part only, and never reaching the write position
            n = 0
            while n < 17 and i + n < len(raw) and off + n < write and dictionary[off + n] == raw[i + n]:
                n += 1
            if n > best_len:
                best_len, best_off = n, off
        if best_len >= 2:
            tokens.append((True, struct.pack('>H', best_off << 4 | (best_len - 2))))
            chunk = raw[i:i + best_len]
        else:
            tokens.append((False, raw[i:i + 1]))
            chunk = raw[i:i + 1]
        for b in chunk:
            dictionary[write] = b
            write += 1
        i += len(chunk)
    tokens.append((True, struct.pack('>H', write << 4)))  # the end marker
    out = bytearray()
    for start in range(0, len(tokens), 8):
        run = tokens[start:start + 8]
        out.append(sum(1 << k for k, (ref, _) in enumerate(run) if ref))
        for _, t in run:
            out += t
    return struct.pack('<IIII', len(out) + 12, len(raw), 0x75465A4C, crc32_rtf(out)) + bytes(out)


def stored_rtf(raw):
    """The uncompressed form ("MELA"), which readers must take as well."""
    return struct.pack('<IIII', len(raw) + 12, len(raw), 0x414C454D, 0) + raw


def attribute(level, tag, data):
    return struct.pack('<BII', level, tag, len(data)) + data + struct.pack('<H', sum(data) & 0xFFFF)


def pad(data):
    return data + b'\0' * (-len(data) % 4)


def prop(ptype, pid, value):
    """One property: fixed-size values as they are, variable-size ones counted and padded."""
    head = struct.pack('<HH', ptype, pid)
    if ptype == PT_INT32:
        return head + struct.pack('<I', value)
    if ptype == PT_BOOLEAN:
        return head + struct.pack('<HH', 1 if value else 0, 0)
    if ptype & MV:
        body = struct.pack('<I', len(value))
        for v in value:
            body += struct.pack('<I', len(v)) + pad(v)
        return head + body
    return head + struct.pack('<II', 1, len(value)) + pad(value)


def named_prop(ptype, guid, name, value):
    """A named property (string kind): tag, property set GUID, kind 1, the UTF-16 name padded."""
    encoded = (name + '\0').encode('utf-16-le')
    head = struct.pack('<HH', ptype, 0x8001) + guid + struct.pack('<II', 1, len(encoded)) + pad(encoded)
    return head + prop(ptype, 0, value)[4:]


def props(*items):
    return struct.pack('<I', len(items)) + b''.join(items)


def utf16(s):
    return (s + '\0').encode('utf-16-le')


def tnef(message_props, attachments, subject=None, key=0x0001):
    out = struct.pack('<IH', SIGNATURE, key)
    out += attribute(LVL_MESSAGE, ATT_TNEF_VERSION, struct.pack('<I', 0x00010000))
    out += attribute(LVL_MESSAGE, ATT_OEM_CODEPAGE, struct.pack('<II', 1252, 0))
    out += attribute(LVL_MESSAGE, ATT_MESSAGE_CLASS, b'IPM.Microsoft Mail.Note\0')
    if subject is not None:
        out += attribute(LVL_MESSAGE, ATT_SUBJECT, subject.encode('cp1252') + b'\0')
    out += attribute(LVL_MESSAGE, ATT_MSG_PROPS, message_props)
    for a in attachments:
        out += attribute(LVL_ATTACHMENT, ATT_ATTACH_REND_DATA, struct.pack('<HIHHI', a.get('atyp', 1), 0xFFFFFFFF, 0, 0, 0))
        if 'title' in a:
            out += attribute(LVL_ATTACHMENT, ATT_ATTACH_TITLE, a['title'].encode('cp1252') + b'\0')
        if 'data' in a:
            out += attribute(LVL_ATTACHMENT, ATT_ATTACH_DATA, a['data'])
        out += attribute(LVL_ATTACHMENT, ATT_ATTACHMENT, a['props'])
    return out


# What the tests expect back.
PDF = b'%PDF-1.4\n' + bytes(range(256)) * 3 + b'\n%%EOF\n'
XLSX = b'PK\x03\x04' + bytes((i * 37) & 0xFF for i in range(1500))
PNG = b'\x89PNG\r\n\x1a\n' + bytes((i * 11) & 0xFF for i in range(300))
NOTE = b'Minutes of the meeting.\r\n'
RTF_TEXT = (b'{\\rtf1\\ansi\\ansicpg1252\\deff0{\\fonttbl{\\f0\\fswiss Arial;}}{\\colortbl;\\red0\\green0\\blue0;}'
            b'\\pard\\f0\\fs20 Hello Anna,\\par\\par the figures for the quarter are attached: '
            b'the report and the table.\\par Caf\\\'e9 costs \\u8364?5 again.\\par\\par Regards,\\par Bj\\\'f6rn\\par }')
RTF_TEXT_EXPECTED = ('Hello Anna,\n\nthe figures for the quarter are attached: the report and the table.\n'
                     'Caf\u00e9 costs \u20ac5 again.\n\nRegards,\nBj\u00f6rn\n')
HTML_RTF = (b'{\\rtf1\\ansi\\ansicpg1252\\fromhtml1 \\deff0{\\fonttbl{\\f0\\fswiss Arial;}}'
            b'{\\*\\htmltag19 <html>}{\\*\\htmltag34 <head>}{\\*\\htmltag41 </head>}{\\*\\htmltag50 <body>}'
            b'\\htmlrtf {\\htmlrtf0 {\\*\\htmltag64 <p>}Wrapped \\\'ab HTML\\\'bb body'
            b'{\\*\\htmltag244 <img src="cid:logo@tnef">}{\\*\\htmltag72 </p>}\\htmlrtf\\par\\htmlrtf0}\\htmlrtf}'
            b'{\\*\\htmltag58 </body>}{\\*\\htmltag27 </html>}}')
HTML_RTF_EXPECTED = '<html><head></head><body><p>Wrapped \u00ab HTML\u00bb body<img src="cid:logo@tnef"></p></body></html>'
PS_PUBLIC_STRINGS = bytes.fromhex('2908020000000000c000000000000046')


def rtf_stream():
    """A plain RTF body (compressed) and two attachments, with a named and a multi-valued
    property among the message's properties."""
    message = props(prop(PT_UNICODE, 0x0037, utf16('Quarter figures')),
                    named_prop(PT_UNICODE, PS_PUBLIC_STRINGS, 'x-origin', utf16('test')),
                    prop(PT_UNICODE | MV, 0x6701, [utf16('one'), utf16('two')]),
                    prop(PT_BOOLEAN, 0x0E1F, True),
                    prop(PT_BINARY, 0x1009, compress_rtf(RTF_TEXT)))
    attachments = [
        {'title': 'QUARTE~1.PDF', 'data': PDF,
         'props': props(prop(PT_INT32, 0x3705, 1), prop(PT_UNICODE, 0x3707, utf16('Quarterly report.pdf')),
                        prop(PT_STRING8, 0x370E, b'application/pdf\0'))},
        {'title': 'UBERSI~1.XLS', 'data': XLSX,
         'props': props(prop(PT_INT32, 0x3705, 1), prop(PT_UNICODE, 0x3707, utf16('\u00dcbersicht 2024.xlsx')),
                        prop(PT_UNICODE, 0x370E,
                             utf16('application/vnd.openxmlformats-officedocument.spreadsheetml.sheet')))},
    ]
    return tnef(message, attachments, subject='Quarter figures')


def html_stream():
    """HTML wrapped in uncompressed RTF, an inline image it refers to, and an attached message
    with its own body and attachment."""
    inner = tnef(props(prop(PT_STRING8, 0x0037, b'Minutes\0'), prop(PT_STRING8, 0x1000, b'See the minutes.\r\n\0')),
                 [{'title': 'MINUTES.TXT', 'data': NOTE,
                   'props': props(prop(PT_INT32, 0x3705, 1), prop(PT_STRING8, 0x3707, b'minutes.txt\0'))}],
                 key=0x0002)
    message = props(prop(PT_BINARY, 0x1009, stored_rtf(HTML_RTF)))
    attachments = [
        {'title': 'logo.png', 'data': PNG,
         'props': props(prop(PT_INT32, 0x3705, 1), prop(PT_STRING8, 0x370E, b'image/png\0'),
                        prop(PT_STRING8, 0x3712, b'logo@tnef\0'))},
        {'title': 'Minutes',
         'props': props(prop(PT_INT32, 0x3705, 5), prop(PT_OBJECT, 0x3701, IID_IMESSAGE + inner))},
    ]
    return tnef(message, attachments)


def eml(subject, body, tnef_bytes, content_type='application/ms-tnef', name='winmail.dat'):
    boundary = '----=_tnef_test_boundary'
    b64 = base64.encodebytes(tnef_bytes).decode('ascii').replace('\n', '\r\n')
    return ('From: Sender <sender@example.org>\r\nTo: Anna <anna@example.org>\r\n'
            'Subject: %s\r\nDate: Tue, 08 Dec 2026 10:00:00 +0000\r\nMessage-ID: <%s@tnef.example>\r\n'
            'MIME-Version: 1.0\r\nX-MS-TNEF-Correlator: <00000000@tnef.example>\r\n'
            'Content-Type: multipart/mixed; boundary="%s"\r\n\r\n'
            '--%s\r\nContent-Type: text/plain; charset=us-ascii\r\n\r\n%s\r\n'
            '--%s\r\nContent-Type: %s; name="%s"\r\nContent-Transfer-Encoding: base64\r\n'
            'Content-Disposition: attachment; filename="%s"\r\n\r\n%s\r\n--%s--\r\n'
            % (subject, subject.replace(' ', '-').lower(), boundary, boundary, body, boundary, content_type, name,
               name, b64, boundary)).encode('ascii')


def corrupt_stream():
    """The RTF stream cut inside the second attachment's data."""
    good = rtf_stream()
    return good[:good.index(XLSX) + 100]


def write_all(outdir):
    os.makedirs(outdir, exist_ok=True)
    files = {
        'winmail-rtf.dat': rtf_stream(),
        'winmail-html.dat': html_stream(),
        'winmail-corrupt.dat': corrupt_stream(),
        'tnef-rtf.eml': eml('Quarter figures', '', rtf_stream()),
        'tnef-html.eml': eml('Wrapped HTML', ' ', html_stream()),
        'tnef-corrupt.eml': eml('Damaged winmail', '', corrupt_stream()),
        # Only the name says TNEF, and the MIME body is real text: it stays the body.
        'tnef-by-name.eml': eml('Named only', 'The text body the sender typed.', rtf_stream(),
                                content_type='application/octet-stream', name='WINMAIL.DAT'),
    }
    for name, data in files.items():
        with open(os.path.join(outdir, name), 'wb') as f:
            f.write(data)


if __name__ == '__main__':
    write_all(sys.argv[1])
