#!/usr/bin/python3
"""Imports mail files into a .pst with quill-import-pst, reads the store back with independent
readers (pypff, pffexport, readpst) and compares each message with what Python's own `email`
package (policy=default) reads from the same file.

    readback_check.py --tool BIN --out DIR [--strict] PATH...

Every difference is listed with the file it belongs to. Without --strict the run fails only when a
file is missing from the store, a reader cannot open the store, or readpst exports a different
number of messages; with --strict any field that differs fails it too. Run with Debian's
/usr/bin/python3, the interpreter python3-pypff is installed for.
"""

import argparse
import binascii
import collections
import datetime
import email
import email.policy
import email.utils
import hashlib
import mailbox
import os
import plistlib
import re
import shutil
import subprocess
import sys

import pypff

UTC = datetime.timezone.utc


# ----------------------------------------------------------------------------------------------
# What Python's email package reads from the file.

def file_bytes(path):
    """The message bytes of a mail file: .emlx byte-count framing, an mbox "From " line and a
    UTF-8 byte-order mark are passed over, as the importer does."""
    with open(path, 'rb') as f:
        data = f.read()
    if data.startswith(b'\xef\xbb\xbf'):
        data = data[3:]
    if path.endswith('.emlx'):
        first, _, rest = data.partition(b'\n')
        if first.strip().isdigit():
            count = int(first.strip())
            data = rest[:count] if count <= len(rest) else rest
        # Without a usable byte count the message runs up to Apple's property list.
        plist = data.rfind(b'<?xml version=')
        if plist > 0 and b'<plist' in data[plist:]:
            data = data[:plist]
    if data.startswith(b'From '):
        data = data.partition(b'\n')[2]
    return data


def emlx_read_flag(path):
    """Apple Mail's read bit from the property list after an .emlx message; None when there is
    none that parses (the importer then counts the message as read)."""
    with open(path, 'rb') as f:
        data = f.read()
    first, _, rest = data.partition(b'\n')
    if not first.strip().isdigit():
        return None
    try:
        plist = plistlib.loads(rest[int(first.strip()):].strip())
        return bool(int(plist['flags']) & 1)
    except Exception:
        return None


def header_read_flag(msg):
    """The read state a Thunderbird (X-Mozilla-Status, hex, bit 0x0001) or mbox (Status, letter R)
    header records; None when neither does."""
    moz = msg.get('x-mozilla-status')
    if moz is not None:
        try:
            return bool(int(str(moz).strip(), 16) & 1)
        except ValueError:
            pass
    status = msg.get('status')
    if status is not None:
        return 'R' in str(status)
    return None


def header_block(data):
    m = re.search(rb'\r?\n\r?\n', data)
    return data[:m.start()] if m else data


def norm_text(s):
    """Line ends unified, outer white space dropped, and every character beyond U+FFFF made
    U+FFFD: pypff decodes UTF-16 surrogate pairs wrongly (U+1F642 comes back as U+1F243) although
    the stored bytes are right, as pffexport's hex dump shows."""
    s = (s or '').replace('\r\n', '\n').replace('\r', '\n').strip()
    return ''.join(c if ord(c) <= 0xFFFF else '\ufffd' for c in s)


def shown(addr):
    return addr.display_name or addr.addr_spec


def addresses(msg, name):
    try:
        header = msg[name]
        return list(header.addresses) if header is not None else []
    except Exception:  # malformed header: Python gives up on it
        return None


def to_utc(dt):
    if dt is None:
        return None
    return dt.replace(tzinfo=UTC) if dt.tzinfo is None else dt.astimezone(UTC)


def header_date(value):
    try:
        return to_utc(email.utils.parsedate_to_datetime(str(value)))
    except Exception:
        return None


def leaf_parts(part, out):
    """Leaves of the MIME tree; a message/rfc822 part counts as one leaf (the attached message)."""
    if part.get_content_maintype() == 'message' or not isinstance(part.get_payload(), list):
        out.append(part)
    elif part.get_content_type() == 'multipart/alternative':
        # Renditions of one body: the text and HTML ones are the body, the rest (text/enriched,
        # ...) is passed over by the importer, as by mail clients. Attachments can only sit inside
        # a multipart child.
        for sub in part.get_payload():
            if sub.is_multipart():
                leaf_parts(sub, out)
            elif sub.get_content_type() in ('text/plain', 'text/html'):
                out.append(sub)
    elif part.is_multipart():
        for sub in part.get_payload():
            leaf_parts(sub, out)
    else:
        out.append(part)


UU_BEGIN = re.compile(r'begin [0-7]{3,4} (.*\S)[ \t]*')


def uu_files(text):
    """Takes the uuencoded blocks ("begin MODE NAME", data lines, a line of length zero, "end") out
    of a plain-text body, as the importer does: (what is left, [(name, bytes)]). Lines are
    decoded with binascii, an implementation of its own."""
    lines = text.splitlines(keepends=True)
    kept, files, i = [], [], 0
    while i < len(lines):
        m = UU_BEGIN.fullmatch(lines[i].rstrip('\r\n'))
        block = None
        if m:
            data, j = b'', i + 1
            try:
                while j < len(lines):
                    line = lines[j].rstrip('\r\n').rstrip(' ')
                    if line == 'end':
                        block = j
                        break
                    if line in ('', '`'):
                        if j + 1 < len(lines) and lines[j + 1].rstrip('\r\n').rstrip(' \t') == 'end':
                            block = j + 1
                        break
                    if any(not ' ' <= c <= '`' for c in line):
                        break
                    data += binascii.a2b_uu(line)
                    j += 1
            except binascii.Error:
                block = None
        if block is None:
            kept.append(lines[i])
            i += 1
        else:
            files.append((m.group(1), data))
            i = block + 1
    return ''.join(kept), files


SIGNATURE_TYPES = ('application/pkcs7-signature', 'application/x-pkcs7-signature')


def smime_form(msg, data):
    """The S/MIME form Outlook keeps a message in: ('IPM.Note.SMIME.MultipartSigned', the signed
    entity as the file holds it) for a clear-signed one, ('IPM.Note.SMIME', None) for an opaque-signed
    or encrypted one, ('IPM.Note', None) for any other (PGP/MIME among them)."""
    ctype = msg.get_content_type()
    if ctype == 'multipart/signed':
        parts = msg.get_payload()
        cte = str(msg.get('content-transfer-encoding', '')).strip().lower()
        if (str(msg.get_param('protocol', '')).lower() in SIGNATURE_TYPES and isinstance(parts, list)
                and len(parts) == 2 and parts[1].get_content_type() in SIGNATURE_TYPES
                and cte in ('', '7bit', '8bit', 'binary')):
            # The last Content-Type field, its folded lines with it, and the body after the empty line.
            end = re.search(rb'\r?\n\r?\n', data)
            head_end = data.index(b'\n', end.start()) + 1  # the last field's line break included
            fields = re.findall(rb'^[^ \t\r\n][^\n]*\n(?:[ \t][^\n]*\n)*', data[:head_end], re.M)
            field = [f for f in fields if f.split(b':', 1)[0].strip().lower() == b'content-type'][-1]
            return 'IPM.Note.SMIME.MultipartSigned', field + data[head_end:]
    elif not msg.is_multipart():
        name = (msg.get_filename() or '').lower()
        smime_type = str(msg.get_param('smime-type', '')).lower()
        if ((ctype in ('application/pkcs7-mime', 'application/x-pkcs7-mime')
             or (ctype == 'application/octet-stream' and name.endswith('.p7m')))
                and not name.endswith(('.p7c', '.p7z'))
                and smime_type in ('', 'signed-data', 'enveloped-data', 'authenveloped-data')
                and msg.get_payload(decode=True)):
            return 'IPM.Note.SMIME', None
    return 'IPM.Note', None


def expected(path):
    data = file_bytes(path)
    msg = email.message_from_bytes(data, policy=email.policy.default)
    e = {'file': path}
    try:
        e['subject'] = str(msg['subject']) if msg['subject'] is not None else ''
    except Exception:
        e['subject'] = None
    sender = addresses(msg, 'sender') or addresses(msg, 'from')
    e['sender'] = shown(sender[0]) if sender else None
    e['sender address'] = sender[0].addr_spec if sender and sender[0].addr_spec else None
    read = emlx_read_flag(path) if path.endswith('.emlx') else None
    if read is None:
        read = header_read_flag(msg)
    e['read'] = True if read is None else read
    received = None
    for value in msg.get_all('received') or []:
        received = header_date(str(value).rpartition(';')[2])
        if received:
            break
    date = header_date(msg['date']) if msg['date'] is not None else None
    e['submit'] = date or received
    e['delivery'] = received or date
    e['headers'] = header_block(data).decode('utf-8', 'replace')
    e['message_id'] = (msg['message-id'] or '').strip() or None

    recipients = []
    for name, kind in (('to', 'To'), ('cc', 'CC'), ('bcc', 'BCC')):
        found = addresses(msg, name)
        if found is None:
            recipients = None
            break
        recipients += [(kind, a.addr_spec.lower()) for a in found if a.addr_spec]
    e['recipients'] = sorted(recipients) if recipients is not None else None

    try:
        plain = msg.get_body(preferencelist=('plain',))
        html = msg.get_body(preferencelist=('html',))
    except Exception:
        plain = html = None
    plain_text, uu = None, []
    if plain is not None and not plain.is_attachment():
        plain_text, uu = uu_files(plain.get_content())
    e['plain'] = norm_text(plain_text) if plain_text is not None else None
    e['html'] = html.get_payload(decode=True) if html is not None else None

    leaves = []
    leaf_parts(msg, leaves)
    attachments = []
    for part in leaves:
        if part is plain or part is html:
            continue
        named = part.get_filename() is not None or part.get_content_disposition() == 'attachment'
        if part.get_content_maintype() == 'text' and not named and part.get_content_type() in ('text/plain', 'text/html'):
            continue  # more body text; the importer joins or drops it
        embedded = part.get_content_type() == 'message/rfc822'
        # Python keeps other message/* parts (delivery reports, ...) parsed, not as bytes.
        payload = None if part.get_content_maintype() == 'message' else part.get_payload(decode=True)
        attachments.append({'embedded': embedded, 'sha1': hashlib.sha1(payload).hexdigest() if payload is not None else None,
                            'empty': payload == b'', 'name': part.get_filename()})
    attachments += [{'embedded': False, 'sha1': hashlib.sha1(data).hexdigest(), 'empty': data == b'', 'name': name}
                    for name, data in uu]
    e['attachments'] = attachments
    e['class'], entity = smime_form(msg, data)
    if e['class'] == 'IPM.Note.SMIME.MultipartSigned':
        # The signed part's attachments and the signature are inside the one entity.
        e['attachments'] = [{'embedded': False, 'sha1': hashlib.sha1(entity).hexdigest(), 'empty': False,
                             'name': 'smime.p7m'}]
    elif e['class'] == 'IPM.Note.SMIME':
        e['plain'] = e['html'] = None
        e['plain absent'] = True
    return e


# ----------------------------------------------------------------------------------------------
# What the readers get back from the store.

def inbox_of(pst):
    root = pst.get_root_folder()
    for top in root.sub_folders:
        for folder in top.sub_folders:
            if folder.name == 'Inbox':
                return folder
    raise RuntimeError('no Inbox in the store')


def pypff_time(value):
    return value.replace(tzinfo=UTC) if value is not None else None


def decode_utf8(value):
    if value is None:
        return None
    return value.decode('utf-8', 'replace') if isinstance(value, bytes) else value


def read_pypff(pst_path):
    pst = pypff.file()
    pst.open(pst_path)
    got = {}
    for index, m in enumerate(inbox_of(pst).sub_messages):
        try:
            atts = []
            for a in m.attachments:
                size = a.size or 0
                atts.append(hashlib.sha1(a.read_buffer(size) if size else b'').hexdigest())
            props = {}
            for rs in m.record_sets:
                for entry in rs.entries:
                    props.setdefault(entry.entry_type, entry)
            flags = props.get(0x0E07)
            sender_address = props.get(0x0C1F)
            message_id = props.get(0x1035)
            message_class = props.get(0x001A)
            got[m.identifier] = {
                'index': index,
                'read': bool(flags.data_as_integer & 1) if flags is not None else None,
                'sender address': sender_address.data_as_string if sender_address is not None else None,
                'message_id': message_id.data_as_string if message_id is not None else None,
                'class': message_class.data_as_string if message_class is not None else None,
                'subject': m.subject,
                'sender': m.sender_name,
                'submit': pypff_time(m.client_submit_time),
                'delivery': pypff_time(m.delivery_time),
                'headers': m.transport_headers,
                'plain': decode_utf8(m.plain_text_body),
                'html': m.html_body,
                'attachments': atts,
            }
        except OSError as err:  # libpff refused part of this message: the store is at fault
            got[m.identifier] = {'index': index, 'error': str(err)}
    pst.close()
    return got


def read_pffexport(pst_path, out):
    """Recipients and attachment file names per message index, from pffexport's export."""
    target = os.path.join(out, 'pffexport')
    shutil.rmtree(target + '.export', ignore_errors=True)
    subprocess.run(['pffexport', '-m', 'all', '-f', 'all', '-t', target, pst_path],
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=False)
    inbox = None
    for dirpath, dirnames, _ in os.walk(target + '.export'):
        if os.path.basename(dirpath) == 'Inbox':
            inbox = dirpath
            break
    result = {}
    if inbox is None:
        return result
    for entry in os.listdir(inbox):
        m = re.fullmatch(r'Message(\d+)', entry)
        if not m:
            continue
        folder = os.path.join(inbox, entry)
        recipients = []
        rpath = os.path.join(folder, 'Recipients.txt')
        if os.path.exists(rpath):
            with open(rpath, encoding='utf-8', errors='replace') as f:
                block = {}
                for line in f.read().split('\n') + ['']:
                    if not line.strip():
                        if block:
                            recipients.append((block.get('Recipient type', ''), block.get('Email address', '').lower()))
                        block = {}
                        continue
                    key, _, value = line.partition(':')
                    block[key.strip()] = value.strip()
        names = []
        apath = os.path.join(folder, 'Attachments')
        if os.path.isdir(apath):
            names = sorted(re.sub(r'^\d+_', '', n) for n in os.listdir(apath) if n != 'ItemValues.txt')
        result[int(m.group(1)) - 1] = {'recipients': sorted(recipients), 'names': names}
    return result


def read_readpst(pst_path, out):
    """Messages readpst exported (one file each, numbered in store order, attachments beside them
    as "N-name") and the error lines of its debug log."""
    target = os.path.join(out, 'readpst')
    shutil.rmtree(target, ignore_errors=True)
    os.makedirs(target)
    log = os.path.join(out, 'readpst.log')
    # One process (-j0): readpst's parallel children share the debug log and the numbering of the
    # exported files, and then lose or garble messages at random.
    subprocess.run(['readpst', '-D', '-S', '-j0', '-o', target, '-d', log, pst_path],
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=False)
    messages = []
    for dirpath, _, files in os.walk(target):
        if os.path.basename(dirpath) != 'Inbox':
            continue
        numbers = sorted(int(n) for n in files if n.isdigit())
        for n in numbers:
            with open(os.path.join(dirpath, str(n)), 'rb') as f:
                parsed = email.message_from_binary_file(f)
            attachments = sum(1 for name in files if name.startswith('%d-' % n))
            messages.append({'message_id': str(parsed['message-id'] or '').strip() or None,
                             'attachments': attachments})
    errors = collections.Counter()
    if os.path.exists(log):
        with open(log, encoding='utf-8', errors='replace') as f:
            for line in f:
                if 'ERROR' in line:
                    errors[re.sub(r'^\S+\s+', '', line).strip()] += 1
    return messages, errors


# readpst logs these for Outlook's own stores too: it looks every recipient row up as if it were an
# attachment. "error processing main DSN/MDN record" is its word for a recipient table without rows
# (a message with no To, Cc or Bcc; the table itself must exist); the message is exported all the
# same. None of them says anything about the file.
BENIGN_READPST = re.compile(r'pst_getID2 .*ERROR Not Found|cannot locate id2 value|have not located|'
                            r'error processing main DSN/MDN record')


# ----------------------------------------------------------------------------------------------

def same_time(a, b):
    return a is not None and b is not None and abs((a - b).total_seconds()) <= 1


def compare(e, g, x):
    """(field, expected, got) for every field that differs; fields Python could not read are not
    compared."""
    diffs = []

    def check(field, want, have, equal=lambda a, b: a == b):
        if want is not None and not equal(want, have):
            diffs.append((field, want, have))

    check('subject', e['subject'], g['subject'], lambda a, b: norm_text(a) == norm_text(b))
    check('sender', e['sender'], g['sender'])
    check('sender address', e['sender address'], g['sender address'])
    check('read flag', e['read'], g['read'])
    check('message id', e['message_id'], g['message_id'])
    check('submit time', e['submit'], g['submit'], same_time)
    check('delivery time', e['delivery'], g['delivery'], same_time)
    check('transport headers', e['headers'], g['headers'], lambda a, b: norm_text(a) == norm_text(b))
    check('message class', e['class'], g['class'])
    check('plain body', e['plain'], g['plain'], lambda a, b: a == norm_text(b))
    if e.get('plain absent'):
        check('no body', True, not g['plain'] and not g['html'])
    check('html body', e['html'], g['html'],
          lambda a, b: b is not None and a.replace(b'\r\n', b'\n').strip() == b.replace(b'\r\n', b'\n').strip())
    want_atts = e['attachments']
    check('attachment count', len(want_atts), len(g['attachments']))
    # Every attachment whose bytes Python gives must be in the store with exactly those bytes.
    have_bytes = list(g['attachments'])
    missing = []
    for a in want_atts:
        if a['sha1'] is None:
            continue
        if a['sha1'] in have_bytes:
            have_bytes.remove(a['sha1'])
        else:
            missing.append(a['sha1'])
    check('attachment bytes', [], missing)
    if x is not None:
        check('recipients', e['recipients'], x['recipients'])
        want_names = sorted(os.path.basename(a['name'].replace('\\', '/')).strip(' .')
                            for a in want_atts if a['name'] and not a['embedded'])
        check('attachment names', want_names, [n for n in want_names if n in x['names']])
    return diffs


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('--tool', required=True)
    parser.add_argument('--out', required=True)
    parser.add_argument('--strict', action='store_true')
    parser.add_argument('--show', type=int, default=40, help='differences to print in full')
    parser.add_argument('--explained', help='TSV of file name, field and the reason the two readings '
                        'differ there; those differences are expected, and one that no longer occurs fails')
    parser.add_argument('paths', nargs='+')
    args = parser.parse_args()

    os.makedirs(args.out, exist_ok=True)
    pst_path = os.path.join(args.out, 'readback.pst')
    manifest_path = os.path.join(args.out, 'manifest.tsv')
    files = []
    for p in args.paths:
        if os.path.isdir(p):
            for dirpath, _, names in os.walk(p):
                files += [os.path.join(dirpath, n) for n in names if n.endswith(('.eml', '.emlx'))]
        else:
            files.append(p)

    run = subprocess.run([args.tool, pst_path, manifest_path] + args.paths, capture_output=True, text=True)
    if run.returncode != 0:
        print('FAIL: the import tool failed:', run.stderr.strip())
        return 1
    with open(manifest_path, encoding='utf-8', errors='surrogateescape') as f:
        manifest = [line.rstrip('\n').split('\t', 1) for line in f if line.strip()]
    failures = []
    if len(manifest) != len(files):
        failures.append('%d files given, %d messages imported' % (len(files), len(manifest)))

    got = read_pypff(pst_path)
    exported = read_pffexport(pst_path, args.out)
    readpst_messages, readpst_errors = read_readpst(pst_path, args.out)
    if len(got) != len(manifest):
        failures.append('pypff sees %d messages, %d were imported' % (len(got), len(manifest)))
    if len(exported) != len(manifest):
        failures.append('pffexport exported %d messages, %d were imported' % (len(exported), len(manifest)))
    if len(readpst_messages) != len(manifest):
        failures.append('readpst exported %d messages, %d were imported' % (len(readpst_messages), len(manifest)))
    serious = {k: v for k, v in readpst_errors.items() if not BENIGN_READPST.search(k)}
    if serious:
        failures.append('readpst log errors: %s' % serious)

    explained = {}
    if args.explained:
        with open(args.explained, encoding='utf-8') as f:
            for line in f:
                if line.strip() and not line.startswith('#'):
                    name, field, reason = line.rstrip('\n').split('\t', 2)
                    explained[(name, field)] = reason
    explained_seen = set()
    per_field = collections.Counter()
    shown_count = 0
    messages_with_diffs = 0
    readpst_mismatch = 0
    for nid_text, path in manifest:
        g = got.get(int(nid_text))
        if g is None:
            failures.append('message %s (%s) not in the store' % (nid_text, path))
            continue
        if 'error' in g:
            failures.append('pypff cannot read %s: %s' % (path, g['error']))
            continue
        try:
            e = expected(path)
        except Exception as err:  # Python's own parser gave up: nothing to compare against
            per_field['python could not read'] += 1
            print('SKIP %s: %s' % (path, err))
            continue
        diffs = compare(e, g, exported.get(g['index']))
        if g['index'] < len(readpst_messages):
            r = readpst_messages[g['index']]
            # readpst writes no file for an attachment without bytes.
            want_atts = sum(1 for a in e['attachments'] if not a['embedded'] and not a['empty'])
            if (e['message_id'] and r['message_id'] != e['message_id']) or r['attachments'] != want_atts:
                diffs.append(('readpst message', (e['message_id'], want_atts), (r['message_id'], r['attachments'])))
                readpst_mismatch += 1
        for field, want, have in diffs:
            if (os.path.basename(path), field) in explained:
                explained_seen.add((os.path.basename(path), field))
                print('EXPLAINED %s [%s]: %s' % (path, field, explained[(os.path.basename(path), field)]))
        diffs = [d for d in diffs if (os.path.basename(path), d[0]) not in explained]
        if diffs:
            messages_with_diffs += 1
        for field, want, have in diffs:
            per_field[field] += 1
            if shown_count < args.show:
                shown_count += 1
                print('DIFF %s [%s]\n  python: %.200r\n  store:  %.200r' % (path, field, want, have))

    print('messages: %d imported, %d read back by pypff, %d by pffexport, %d by readpst' %
          (len(manifest), len(got), len(exported), len(readpst_messages)))
    print('messages with differences: %d' % messages_with_diffs)
    for field, count in sorted(per_field.items()):
        print('  %-20s %d' % (field, count))
    print('readpst log: %d benign lookup errors, %d others' %
          (sum(readpst_errors.values()) - sum(serious.values()), sum(serious.values())))
    if args.strict and per_field:
        failures.append('%d field differences' % sum(per_field.values()))
    for stale in sorted(set(explained) - explained_seen):
        failures.append('explained difference no longer occurs: %s [%s]' % stale)
    for f in failures:
        print('FAIL:', f)
    return 1 if failures else 0


if __name__ == '__main__':
    sys.exit(main())
