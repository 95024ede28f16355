#!/usr/bin/python3
"""The properties a converted message carries, read back with python3-pypff, against what Outlook
itself writes.

    message_properties_test.py BUILD_DIR SOURCE_DIR

- Threads: tests/data/thread holds a root message, a reply, a reply to the reply and a reply
  written by Outlook (with a Thread-Index header). Converted with quillsort-convert, every message
  must share one conversation-index header block, sit one 5-byte level below the message it
  answers, carry PR_CONVERSATION_INDEX_TRACKING (so Outlook computes the conversation id from the
  index's GUID rather than from the subject) and a conversation topic without "Re:".
- Outlook's own received message: the ordinary received internet message in the Outlook-made
  reference store pstsdk_sample1.pst against tests/data/properties/received-html.eml converted by
  us. Every property tag Outlook set there is either set by us with the same type or named in
  NOT_SET below with the reason we leave it out; a tag in NOT_SET that we do set fails too, so the
  table stays true.

Every store written here also passes our pstcheck --strict and the strict reader in
../shared/tools/pst-check.
"""
import hashlib
import os
import subprocess
import sys
import tempfile
import unittest

import pypff

BUILD = SOURCE = None

# Tags (id << 16 | type) on Outlook's received message that a converted message does not carry.
# Named properties (ids 0x8000 and up) are left out of the comparison: their ids are given out per
# store, so the same number names different properties in two stores.
NOT_SET = {
    0x0002000B: "PidTagAlternateRecipientAllowed: a transport setting for the sender's server",
    0x0023000B: "PidTagOriginatorDeliveryReportRequested: a transport request, answered long ago",
    0x0029000B: "PidTagReadReceiptRequested: would make Outlook offer a receipt for archived mail",
    0x003F0102: "PidTagReceivedByEntryId: the receiving mailbox; a mail file does not say whose it was",
    0x0040001F: "PidTagReceivedByName: as above",
    0x00430102: "PidTagReceivedRepresentingEntryId: as above",
    0x0044001F: "PidTagReceivedRepresentingName: as above",
    0x00470102: "PidTagMessageSubmissionId: an X.400/Exchange transport id",
    0x00510102: "PidTagReceivedBySearchKey: the receiving mailbox, not known",
    0x00520102: "PidTagReceivedRepresentingSearchKey: the receiving mailbox, not known",
    0x0057000B: "PidTagMessageToMe: needs the receiving mailbox, not known",
    0x0058000B: "PidTagMessageCcMe: needs the receiving mailbox, not known",
    0x0063000B: "PidTagResponseRequested: set by Exchange for its own delivery; no MIME source",
    0x0075001F: "PidTagReceivedByAddressType: the receiving mailbox, not known",
    0x0076001F: "PidTagReceivedByEmailAddress: the receiving mailbox, not known",
    0x0077001F: "PidTagReceivedRepresentingAddressType: the receiving mailbox, not known",
    0x0078001F: "PidTagReceivedRepresentingEmailAddress: the receiving mailbox, not known",
    0x007F0102: "PidTagTnefCorrelationKey: ties a TNEF stream to its message in transport",
    0x0C17000B: "PidTagReplyRequested: set by Exchange for its own delivery; no MIME source",
    0x0E230003: "PidTagInternetArticleNumber: a number the delivering server gives each message",
    0x0E2B0003: "PidTagToDoItemFlags: set when the message is flagged (this sample is); ours carry the "
                "flag state through PidTagFlagStatus and the named flag properties",
    0x0E2F0003: "a per-mailbox number the delivering server gives each message (same value as 0x0E23)",
    0x0E790003: "PidTagTrustSender: Exchange's junk-mail verdict",
    0x10800003: "PidTagIconIndex: set when the message was answered or forwarded; Outlook's -1 here "
                "means the same as no value",
    0x10900003: "PidTagFlagStatus: set when the source records a flag (this sample is flagged)",
    0x10950003: "PidTagFollowupIcon: set with PidTagFlagStatus",
    0x30100102: "PidTagTargetEntryId: Exchange's own bookkeeping",
    0x30140102: "Exchange's own bookkeeping (not in the published property list)",
    0x30150014: "Exchange's own bookkeeping (not in the published property list)",
    0x3A40000B: "PidTagSendRichInfo: a sending preference; ours is on each recipient row",
    0x3FEA000B: "PidTagHasDeferredActionMessages: Exchange server-side rules",
    0x3FF10003: "PidTagMessageLocaleId: the locale of the client that received it, not known",
    0x3FFA001F: "PidTagLastModifierName: the Exchange user who last changed it",
    0x3FFB0102: "PidTagLastModifierEntryId: as above",
    0x3FFD0003: "PidTagMessageCodepage: the code page of 8-bit string properties; ours are all Unicode "
                "and the HTML body's code page is in PidTagInternetCodepage",
    0x40190003: "PidTagSenderFlags: Exchange-internal",
    0x401A0003: "PidTagSentRepresentingFlags: Exchange-internal",
    0x401B0003: "PidTagReceivedByFlags: Exchange-internal",
    0x401C0003: "PidTagReceivedRepresentingFlags: Exchange-internal",
    0x59020003: "PidTagInetMailOverrideFormat: how Outlook encodes mail it sends",
    0x5FE5001F: "the sender's SIP address, from Exchange's directory",
    0x65E20102: "PidTagChangeKey: Exchange synchronisation",
    0x65E30102: "PidTagPredecessorChangeList: Exchange synchronisation",
    0x6619001F: "a body preview Exchange stores; Outlook makes its own from the body",
}


def shared_dir():
    return os.environ.get("QUILL_SHARED_DIR") or os.path.join(SOURCE, "..", "shared")


def check_store(test, pst):
    ours = subprocess.run([os.path.join(BUILD, "pst", "read", "pstcheck"), "--strict", pst], capture_output=True,
                          text=True)
    test.assertEqual(ours.returncode, 0, ours.stdout + ours.stderr)
    strict = os.path.join(shared_dir(), "tools", "pst-check", "pst-check")
    if os.path.exists(strict):
        result = subprocess.run([strict, pst], capture_output=True, text=True)
        test.assertEqual(result.returncode, 0, result.stdout[-3000:])


def convert(test, source, pst):
    result = subprocess.run([os.path.join(BUILD, "cli", "quillsort-convert"), source, pst], capture_output=True,
                            text=True, stdin=subprocess.DEVNULL)
    test.assertEqual(result.returncode, 0, result.stderr)
    check_store(test, pst)


def messages(pst):
    """Every message of the store as {tag: (type, bytes)}."""
    store = pypff.file()
    store.open(pst)
    found = []

    def walk(folder):
        for i in range(folder.number_of_sub_messages):
            m = folder.get_sub_message(i)
            props = {}
            for r in range(m.number_of_record_sets):
                record_set = m.get_record_set(r)
                for j in range(record_set.number_of_entries):
                    e = record_set.get_entry(j)
                    props[e.entry_type] = (e.value_type, e.data or b"")
            found.append(props)
        for i in range(folder.number_of_sub_folders):
            walk(folder.get_sub_folder(i))

    walk(store.get_root_folder())
    store.close()
    return found


def text(props, prop_id):
    return props[prop_id][1].decode("utf-16-le").rstrip("\0") if prop_id in props else None


def conversation_id(props):
    """PidTagConversationId as Outlook computes it: the index's GUID when tracking is on and the
    index is a well-formed header block, else the MD5 of the upper-cased topic."""
    index = props.get(0x0071, (0, b""))[1]
    tracking = props.get(0x3016, (0, b"\0"))[1][:1] == b"\x01"
    if tracking and len(index) >= 22 and index[0] == 1:
        return index[6:22]
    topic = text(props, 0x0070) or ""
    return hashlib.md5(topic.upper().encode("utf-16-le")).digest()


class ThreadTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.mkdtemp(prefix="quill-thread-")

    def setUp(self):
        pst = os.path.join(self.dir, "thread.pst")
        if not os.path.exists(pst):
            convert(self, os.path.join(SOURCE, "tests", "data", "thread"), pst)
        self.by_id = {text(p, 0x1035): p for p in messages(pst)}
        self.assertEqual(len(self.by_id), 4, sorted(self.by_id))

    def index(self, message_id):
        return self.by_id[message_id][0x0071][1]

    def test_the_thread_shares_one_header_block_and_each_reply_sits_below_its_parent(self):
        root = self.index("<root.1583139600@example.org>")
        reply = self.index("<reply.ben.1@example.net>")
        reply_to_reply = self.index("<reply.ada.2@example.org>")
        outlook = self.index("<DB7PR01MB0001@example.com>")
        self.assertEqual(len(root), 22)
        self.assertEqual(root[0], 0x01)
        self.assertEqual(root[1:6], b"\0" * 5)
        for other in (reply, reply_to_reply, outlook):
            self.assertEqual(other[:22], root, "one header block for the whole thread")
        self.assertEqual(len(reply), 27)
        self.assertEqual(len(reply_to_reply), 32)
        self.assertEqual(reply_to_reply[:27], reply)
        # Outlook's reply answers the same message: a sibling at the same depth. Its own
        # Thread-Index (another GUID) gives way to the thread's ids.
        self.assertEqual(len(outlook), 32)
        self.assertEqual(outlook[:27], reply)
        self.assertNotEqual(outlook, reply_to_reply)
        self.assertNotIn(bytes.fromhex("01c77263e6b4f155fcc5fa1b4eccbad6ff4d1cf67b"), outlook)

    def test_outlook_puts_the_thread_in_one_conversation_by_its_guid(self):
        for props in self.by_id.values():
            self.assertEqual(props[0x3016], (0x000B, b"\x01"), "PR_CONVERSATION_INDEX_TRACKING")
            self.assertEqual(text(props, 0x0070), "Budget for the spring fair", "topic without the prefix")
        ids = {conversation_id(p) for p in self.by_id.values()}
        self.assertEqual(len(ids), 1)
        topic_id = hashlib.md5("BUDGET FOR THE SPRING FAIR".encode("utf-16-le")).digest()
        self.assertNotEqual(ids.pop(), topic_id, "grouped by the thread, not by the subject")

    def test_replies_keep_their_prefix_and_links(self):
        reply = self.by_id["<reply.ada.2@example.org>"]
        self.assertEqual(text(reply, 0x003D), "Re: ")
        self.assertEqual(text(reply, 0x1042), "<reply.ben.1@example.net>")
        self.assertEqual(text(reply, 0x1039), "<root.1583139600@example.org> <reply.ben.1@example.net>")
        self.assertEqual(text(self.by_id["<DB7PR01MB0001@example.com>"], 0x003D), "RE: ")


class ReferenceStoreTest(unittest.TestCase):
    def setUp(self):
        self.reference = os.path.join(shared_dir(), "reference-pst", "pstsdk_sample1.pst")
        if not os.path.exists(self.reference):
            self.skipTest("no reference stores beside the checkout")
        self.dir = tempfile.mkdtemp(prefix="quill-props-")

    def test_ours_set_what_outlook_sets_on_a_received_message_or_say_why_not(self):
        [outlook] = messages(self.reference)
        self.assertIn(0x007D, outlook, "the reference is a received internet message (it has its headers)")
        pst = os.path.join(self.dir, "ours.pst")
        convert(self, os.path.join(SOURCE, "tests", "data", "properties"), pst)
        [ours] = messages(pst)
        outlook_tags = {prop_id << 16 | value_type for prop_id, (value_type, _) in outlook.items() if prop_id < 0x8000}
        our_tags = {prop_id << 16 | value_type for prop_id, (value_type, _) in ours.items() if prop_id < 0x8000}
        unexplained = sorted(f"{t:08X}" for t in outlook_tags - our_tags if t not in NOT_SET)
        self.assertEqual(unexplained, [], "set by Outlook, neither set by us nor explained")
        contradicted = sorted(f"{t:08X}" for t in our_tags & set(NOT_SET))
        self.assertEqual(contradicted, [], "named in NOT_SET but set by us")
        stale = sorted(f"{t:08X}" for t in set(NOT_SET) - outlook_tags)
        self.assertEqual(stale, [], "NOT_SET names tags Outlook did not set")
        # Where both set a property that says how to show or answer it, the values agree.
        self.assertEqual(ours[0x5909], outlook[0x5909], "PidTagMessageEditorFormat: HTML")
        self.assertEqual(ours[0x3016], outlook[0x3016], "PidTagConversationIndexTracking")
        self.assertEqual(text(ours, 0x0070), text(outlook, 0x0070))
        self.assertEqual(len(ours[0x0071][1]), len(outlook[0x0071][1]), "a thread's first message: header block only")


if __name__ == "__main__":
    BUILD, SOURCE = sys.argv[1], sys.argv[2]
    unittest.main(argv=sys.argv[:1], verbosity=2)
