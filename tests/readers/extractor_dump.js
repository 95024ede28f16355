// Lists a .pst's folders and messages the way pst-extractor walks them (through the hierarchy and
// contents tables, trusting the stored counts), as JSON on stdout. With "counts" after the file,
// only the folders and their message counts: no message is opened.
const { PSTFile } = require('pst-extractor');

function folder(f) {
  const out = { name: f.displayName, contentCount: f.contentCount, messages: [], folders: [] };
  if (f.contentCount > 0 && !countsOnly) {
    let m = f.getNextChild();
    while (m !== null) {
      out.messages.push({ subject: m.subject, sender: m.senderName, attachments: m.numberOfAttachments });
      m = f.getNextChild();
    }
  }
  if (f.hasSubfolders) {
    for (const child of f.getSubFolders()) out.folders.push(folder(child));
  }
  return out;
}

const countsOnly = process.argv[3] === 'counts';
const pst = new PSTFile(process.argv[2]);
const result = { displayName: pst.getMessageStore().displayName, root: folder(pst.getRootFolder()) };
process.stdout.write(JSON.stringify(result));
