"""winmail.dat end to end: messages carrying TNEF streams (written by make_tnef.py from the
published format alone) go through the converter, and pypff reads back the attachments, bodies
and attachment properties the streams held; the damaged stream stays as winmail.dat with a note.
Every store is also read by pstcheck and, when it is beside the checkout, by the strict pst-check.

    tnef_import_test.py BUILD_DIR SOURCE_DIR [SHARED_DIR]
"""
import csv
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

import pypff

import make_tnef

BUILD = SOURCE = SHARED = None

ATTACH_LONG_FILENAME, ATTACH_METHOD, ATTACH_MIME_TAG, ATTACH_CONTENT_ID, ATTACHMENT_HIDDEN = (
    0x3707, 0x3705, 0x370E, 0x3712, 0x7FFE)
# The strict reader cannot read an attached message's properties (a limit its README names):
# exactly this error, once per attached message, is expected.
EMBEDDED_LIMIT = 'Missing PidTagAttachMethod on message'


def attachment_props(a):
    props = {}
    for rs in a.record_sets:
        for e in rs.entries:
            props.setdefault(e.entry_type, e)
    return props


def read_store(path):
    """{subject: message} for every message in the store, as pypff reads it."""
    pst = pypff.file()
    pst.open(path)
    out = {}

    def walk(folder):
        for m in folder.sub_messages:
            attachments = []
            for a in m.attachments:
                props = attachment_props(a)
                text = lambda t: props[t].data_as_string if t in props else None
                attachments.append({
                    'name': text(ATTACH_LONG_FILENAME), 'mime': text(ATTACH_MIME_TAG),
                    'content_id': text(ATTACH_CONTENT_ID),
                    'method': props[ATTACH_METHOD].data_as_integer if ATTACH_METHOD in props else None,
                    'hidden': props[ATTACHMENT_HIDDEN].data != b'\0' if ATTACHMENT_HIDDEN in props else None,
                    'data': a.read_buffer(a.size) if a.size else b'',
                })
            plain = m.plain_text_body
            out[m.subject] = {'plain': plain.decode('utf-8') if plain else None, 'html': m.html_body,
                              'attachments': attachments}
        for f in folder.sub_folders:
            walk(f)

    walk(pst.get_root_folder())
    pst.close()
    return out


class TnefImportTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.mkdtemp(prefix='quill-tnef-')
        converter = os.path.abspath(os.path.join(BUILD, 'cli', 'quillsort-convert'))
        make_tnef.write_all(os.path.join(cls.dir, 'Mail'))
        for name in os.listdir(os.path.join(cls.dir, 'Mail')):
            if name.endswith('.dat'):
                os.remove(os.path.join(cls.dir, 'Mail', name))
        cls.pst = os.path.join(cls.dir, 't.pst')
        run = subprocess.run([converter, '--report', 'r.tsv', 'Mail', 't.pst'],
                             cwd=cls.dir, capture_output=True, text=True, stdin=subprocess.DEVNULL)
        assert run.returncode == 0, run.stderr
        with open(os.path.join(cls.dir, 'r.tsv'), newline='') as fh:
            rows = list(csv.reader(fh, delimiter='\t', quoting=csv.QUOTE_NONE))
        cls.report = {os.path.basename(r[0]): r[1:] for r in rows[1:]}
        cls.messages = read_store(cls.pst)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.dir, ignore_errors=True)

    def test_every_message_converted(self):
        self.assertEqual(sorted(self.report), ['tnef-by-name.eml', 'tnef-corrupt.eml', 'tnef-html.eml', 'tnef-rtf.eml'])
        for name, row in self.report.items():
            self.assertEqual(row[0], 'converted', name)

    def test_rtf_body_and_two_attachments(self):
        m = self.messages['Quarter figures']
        self.assertEqual(m['plain'], make_tnef.RTF_TEXT_EXPECTED)
        self.assertEqual([(a['name'], a['mime'], a['method']) for a in m['attachments']],
                         [('Quarterly report.pdf', 'application/pdf', 1),
                          ('\u00dcbersicht 2024.xlsx', 'application/vnd.openxmlformats-officedocument.spreadsheetml.sheet', 1)])
        self.assertEqual(m['attachments'][0]['data'], make_tnef.PDF)
        self.assertEqual(m['attachments'][1]['data'], make_tnef.XLSX)
        self.assertIn('winmail.dat decoded into 2 attachment(s)', self.report['tnef-rtf.eml'][2])

    def test_html_wrapped_in_rtf_with_its_image_and_an_attached_message(self):
        m = self.messages['Wrapped HTML']
        self.assertEqual(m['html'], make_tnef.HTML_RTF_EXPECTED.encode('utf-8'))
        self.assertIn('Wrapped \u00ab HTML\u00bb body', m['plain'])
        logo, minutes = m['attachments']
        self.assertEqual((logo['name'], logo['mime'], logo['content_id'], logo['hidden']),
                         ('logo.png', 'image/png', 'logo@tnef', True))
        self.assertEqual(logo['data'], make_tnef.PNG)
        self.assertEqual((minutes['name'], minutes['method']), ('Minutes', 5))

    def test_typed_text_stays_the_body_when_only_the_name_says_tnef(self):
        m = self.messages['Named only']
        self.assertEqual(m['plain'].rstrip('\r\n'), 'The text body the sender typed.')
        self.assertEqual([a['name'] for a in m['attachments']], ['Quarterly report.pdf', '\u00dcbersicht 2024.xlsx'])

    def test_damaged_stream_kept_whole_with_a_note(self):
        m = self.messages['Damaged winmail']
        self.assertEqual([(a['name'], a['mime']) for a in m['attachments']], [('winmail.dat', 'application/ms-tnef')])
        self.assertEqual(m['attachments'][0]['data'], make_tnef.corrupt_stream())
        self.assertIn('note: winmail.dat could not be decoded', self.report['tnef-corrupt.eml'][2])

    def test_committed_streams_are_what_the_generator_writes(self):
        # The unit tests read tests/data/tnef; they must not drift from this generator.
        fresh = os.path.join(self.dir, 'fresh')
        make_tnef.write_all(fresh)
        for name in ('winmail-rtf.dat', 'winmail-html.dat', 'winmail-corrupt.dat'):
            with open(os.path.join(fresh, name), 'rb') as a, \
                    open(os.path.join(SOURCE, 'tests', 'data', 'tnef', name), 'rb') as b:
                self.assertEqual(a.read(), b.read(), name)

    def test_store_passes_the_checkers(self):
        check = subprocess.run([os.path.join(BUILD, 'pst', 'read', 'pstcheck'), '--strict', self.pst],
                               capture_output=True, text=True)
        self.assertEqual(check.returncode, 0, check.stdout + check.stderr)
        strict_tool = os.path.join(SHARED, 'tools', 'pst-check', 'pst-check')
        if not os.path.exists(strict_tool):
            self.skipTest('pst-check is not beside the checkout')
        strict = subprocess.run([strict_tool, self.pst], capture_output=True, text=True)
        errors = [line for line in strict.stdout.splitlines() if line.startswith(('ERROR', 'FAIL'))
                  and 'total' not in line]
        self.assertEqual(len(errors), 1, strict.stdout[-3000:])
        self.assertIn(EMBEDDED_LIMIT, errors[0])
        self.assertIn('name Unicode "Minutes"', errors[0])


if __name__ == '__main__':
    BUILD, SOURCE = sys.argv[1], sys.argv[2]
    SHARED = sys.argv[3] if len(sys.argv) > 3 else os.environ.get('QUILL_SHARED_DIR', os.path.join(SOURCE, '..', 'shared'))
    unittest.main(argv=sys.argv[:1])
