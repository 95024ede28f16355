#!/usr/bin/python3
"""S/MIME messages imported into a .pst and read back by pypff and pst-extractor: the message class
Outlook knows them by, the one attachment and its bytes, which openssl must still verify (a
clear-signed or opaque-signed entity) or decrypt with the test key (an enveloped one), and the
readable body of a clear-signed message. PGP/MIME stays an ordinary message with its parts. The
store must also pass the strict reader.

    smime_readback_test.py IMPORT_TOOL SOURCE_DIR SCRATCH_DIR
"""

import base64
import json
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

import pypff

TOOL, SOURCE, SCRATCH = sys.argv[1:4]
DATA = os.path.join(SOURCE, 'tests', 'data', 'smime')
SHARED = os.environ.get('QUILL_SHARED_DIR') or os.path.join(SOURCE, '..', 'shared')

SIGNED = 'IPM.Note.SMIME.MultipartSigned'
OPAQUE = 'IPM.Note.SMIME'

# file: (message class, attachment names, MIME tags, a text the plain body holds or None for none)
EXPECTED = {
    'clear-signed.eml': (SIGNED, ['smime.p7m'], ['multipart/signed'], 'The quarterly figures are attached.'),
    'clear-signed-lf.eml': (SIGNED, ['smime.p7m'], ['multipart/signed'], 'Grüße, Signer'),
    'opaque-signed.eml': (OPAQUE, ['smime.p7m'], ['application/pkcs7-mime'], None),
    'enveloped.eml': (OPAQUE, ['smime.p7m'], ['application/x-pkcs7-mime'], None),
    'pgp-signed.eml': ('IPM.Note', ['signature.asc'], ['application/pgp-signature'],
                       'The figures, signed with PGP this time.'),
    'pgp-encrypted.eml': ('IPM.Note', ['ATT00001.dat', 'encrypted.asc'],
                          ['application/pgp-encrypted', 'application/octet-stream'], None),
    'list-footer.eml': ('IPM.Note', None, None, 'The quarterly figures are attached.'),
}


def openssl(*args, data):
    with tempfile.NamedTemporaryFile(dir=SCRATCH, delete=False) as f:
        f.write(data)
    try:
        return subprocess.run(['openssl'] + [a if a != 'IN' else f.name for a in args], capture_output=True)
    finally:
        os.unlink(f.name)


def strict_check(test, pst):
    """Runs pst-check on `pst`: no failure, and no error but the one its README lists as a limit
    of its reader, one per enclosed message (attachment method 5), which Outlook's own stores get."""
    tool = os.path.join(SHARED, 'tools', 'pst-check', 'pst-check')
    if not os.path.exists(tool):
        test.skipTest('no pst-check at ' + tool)
    check = subprocess.run([tool, pst], capture_output=True, text=True)
    errors = [line for line in check.stdout.splitlines() if line.startswith('ERROR') and ' total ' not in line]
    unexplained = [e for e in errors if 'Missing PidTagAttachMethod on message (attachment table row: method '
                   'Integer32(5)' not in e]
    test.assertEqual(unexplained, [], check.stdout[-3000:])
    test.assertIn('RESULT: %d error(s), 0 failure(s)' % len(errors), check.stdout)


def pypff_messages(path):
    pst = pypff.file()
    pst.open(path)
    root = pst.get_root_folder()
    inbox = [f for top in root.sub_folders for f in top.sub_folders if f.name == 'Inbox'][0]
    out = []
    for m in inbox.sub_messages:
        props = {}
        for rs in m.record_sets:
            for entry in rs.entries:
                props.setdefault(entry.entry_type, entry)
        atts = []
        for a in m.attachments:
            aprops = {}
            for rs in a.record_sets:
                for entry in rs.entries:
                    aprops.setdefault(entry.entry_type, entry)
            size = a.size or 0
            atts.append({'name': aprops[0x3707].data_as_string if 0x3707 in aprops else None,
                         'mime': aprops[0x370E].data_as_string if 0x370E in aprops else None,
                         'method': aprops[0x3705].data_as_integer if 0x3705 in aprops else None,
                         'data': a.read_buffer(size) if size else b''})
        body = m.plain_text_body
        out.append({'class': props[0x001A].data_as_string, 'subject': m.subject,
                    'body': body.decode('utf-8') if body else None, 'html': m.html_body, 'attachments': atts})
    pst.close()
    return out


class SmimeReadBack(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.pst = os.path.join(SCRATCH, 'smime.pst')
        manifest = os.path.join(SCRATCH, 'manifest.tsv')
        run = subprocess.run([TOOL, cls.pst, manifest, DATA], capture_output=True, text=True)
        assert run.returncode == 0, run.stderr
        with open(manifest, encoding='utf-8') as f:
            names = [os.path.basename(line.rstrip('\n').split('\t', 1)[1]) for line in f if line.strip()]
        cls.by_name = dict(zip(names, pypff_messages(cls.pst)))
        dump = subprocess.run(['node', os.path.join(SOURCE, 'tests', 'readers', 'smime_dump.js'), cls.pst],
                              capture_output=True, text=True, cwd=os.path.join(SOURCE, 'tests', 'readers'))
        assert dump.returncode == 0, dump.stderr
        cls.extractor = dict(zip(names, json.loads(dump.stdout)))

    def source(self, name):
        with open(os.path.join(DATA, name), 'rb') as f:
            return f.read()

    def test_every_message_has_its_class_attachments_and_body(self):
        self.assertEqual(sorted(self.by_name), sorted(EXPECTED))
        for name, (klass, names, mimes, text) in EXPECTED.items():
            with self.subTest(name):
                for reader, m in (('pypff', self.by_name[name]), ('pst-extractor', self.extractor[name])):
                    got_class = m['class'] if reader == 'pypff' else m['messageClass']
                    self.assertEqual(got_class, klass, reader)
                    atts = m['attachments']
                    if names is not None:
                        self.assertEqual([a['name'] for a in atts], names, reader)
                        self.assertEqual([a['mime'] if reader == 'pypff' else a['mimeTag'] for a in atts], mimes, reader)
                        self.assertEqual([a['method'] for a in atts], [1] * len(atts), reader)  # by value
                    if text is not None:
                        self.assertIn(text, m['body'] or '', reader)
                    elif klass == OPAQUE:
                        self.assertFalse(m['body'], reader)
                # Both readers give the attachments the same bytes.
                self.assertEqual([a['data'] for a in self.by_name[name]['attachments']],
                                 [base64.b64decode(a['data']) for a in self.extractor[name]['attachments']])

    def test_clear_signed_entity_is_the_files_bytes_and_verifies(self):
        for name in ('clear-signed.eml', 'clear-signed-lf.eml'):
            with self.subTest(name):
                entity = self.by_name[name]['attachments'][0]['data']
                source = self.source(name)
                # Its Content-Type field and the whole body, as the file holds them, nothing else.
                self.assertTrue(entity.lower().startswith(b'content-type: multipart/signed;'), entity[:80])
                self.assertTrue(source.endswith(entity[entity.index(b'\n\n' if b'\r' not in source else b'\r\n\r\n'):]))
                self.assertNotIn(b'Subject:', entity)
                check = openssl('smime', '-verify', '-noverify', '-in', 'IN', '-out', os.devnull, data=entity)
                self.assertEqual(check.returncode, 0, check.stderr.decode())
                # A changed byte in the signed text must make it fail, or the check proves nothing.
                broken = entity.replace(b'Sign-off by Friday', b'Sign-off by Monday')
                self.assertNotEqual(broken, entity)
                check = openssl('smime', '-verify', '-noverify', '-in', 'IN', '-out', os.devnull, data=broken)
                self.assertNotEqual(check.returncode, 0)

    def test_opaque_signed_data_verifies_and_enveloped_data_decrypts(self):
        signed = self.by_name['opaque-signed.eml']['attachments'][0]['data']
        check = openssl('smime', '-verify', '-noverify', '-inform', 'DER', '-in', 'IN', data=signed)
        self.assertEqual(check.returncode, 0, check.stderr.decode())
        self.assertIn(b'The quarterly figures are attached.', check.stdout)
        enveloped = self.by_name['enveloped.eml']['attachments'][0]['data']
        check = openssl('smime', '-decrypt', '-inform', 'DER', '-in', 'IN', '-inkey', os.path.join(DATA, 'test-key.pem'),
                        '-recip', os.path.join(DATA, 'test-cert.pem'), data=enveloped)
        self.assertEqual(check.returncode, 0, check.stderr.decode())
        self.assertIn(b'quarter,amount', check.stdout)

    def test_the_store_passes_the_strict_reader(self):
        tool = os.path.join(SHARED, 'tools', 'pst-check', 'pst-check')
        if not os.path.exists(tool):
            self.skipTest('no pst-check at ' + tool)
        check = subprocess.run([tool, self.pst], capture_output=True, text=True)  # No enclosed message here.
        self.assertEqual(check.returncode, 0, check.stdout[-3000:])


class CorpusSmimeReadBack(unittest.TestCase):
    """Real S/MIME mail from the shared corpus: every message whose signature verifies in the file
    must verify from the store too, and every S/MIME message must get its class."""

    def test_signatures_that_verify_in_the_file_verify_from_the_store(self):
        corpus = os.path.join(SHARED, 'corpus')
        if not os.path.isdir(corpus):
            self.skipTest('no corpus at ' + corpus)
        files = []
        for dirpath, _, names in os.walk(corpus):
            for n in sorted(names):
                path = os.path.join(dirpath, n)
                with open(path, 'rb') as f:
                    head = f.read().lower()
                if n.endswith('.eml') and b'pkcs7' in head:
                    files.append(path)
        out = os.path.join(SCRATCH, 'corpus')
        os.makedirs(out, exist_ok=True)
        pst = os.path.join(out, 'corpus.pst')
        manifest = os.path.join(out, 'manifest.tsv')
        run = subprocess.run([TOOL, pst, manifest] + files, capture_output=True, text=True)
        self.assertEqual(run.returncode, 0, run.stderr)
        with open(manifest, encoding='utf-8') as f:
            paths = [line.rstrip('\n').split('\t', 1)[1] for line in f if line.strip()]
        self.assertEqual(len(paths), len(files))
        stored = dict(zip(paths, pypff_messages(pst)))
        verified = 0
        for path in files:
            with self.subTest(os.path.relpath(path, corpus)):
                with open(path, 'rb') as f:
                    source = f.read()
                m = stored[path]
                if openssl('smime', '-verify', '-noverify', '-in', 'IN', '-out', os.devnull, data=source).returncode != 0:
                    continue  # Damaged or expired in the file already (several are cut off).
                self.assertIn(m['class'], (SIGNED, OPAQUE))
                self.assertEqual(len(m['attachments']), 1)
                entity = m['attachments'][0]['data']
                args = ['-inform', 'DER'] if m['class'] == OPAQUE else []
                check = openssl('smime', '-verify', '-noverify', *args, '-in', 'IN', '-out', os.devnull, data=entity)
                self.assertEqual(check.returncode, 0, check.stderr.decode())
                verified += 1
        print('%d of %d corpus files with S/MIME content verify from the store' % (verified, len(files)))
        self.assertGreaterEqual(verified, 5)  # thunderbird-signed.eml and the Netscape-era messages
        strict_check(self, pst)


if __name__ == '__main__':
    shutil.rmtree(SCRATCH, ignore_errors=True)
    os.makedirs(SCRATCH)
    unittest.main(argv=sys.argv[:1], verbosity=2)
