// Lists the messages of a .pst's Inbox as pst-extractor reads them: message class, plain body and
// each attachment's file name, MIME tag, attach method and bytes (base64), as JSON on stdout.
const { PSTFile } = require('pst-extractor');

function inbox(f) {
  if (f.displayName === 'Inbox') return f;
  if (!f.hasSubfolders) return null;
  for (const child of f.getSubFolders()) {
    const found = inbox(child);
    if (found) return found;
  }
  return null;
}

const pst = new PSTFile(process.argv[2]);
const messages = [];
const folder = inbox(pst.getRootFolder());
let m = folder.getNextChild();
while (m !== null) {
  const attachments = [];
  for (let i = 0; i < m.numberOfAttachments; i++) {
    const a = m.getAttachment(i);
    const data = Buffer.alloc(a.filesize);
    const stream = a.fileInputStream;
    if (stream) stream.readCompletely(data);
    attachments.push({ name: a.longFilename, mimeTag: a.mimeTag, method: a.attachMethod, data: data.toString('base64') });
  }
  messages.push({ subject: m.subject, messageClass: m.messageClass, body: m.body, attachments });
  m = folder.getNextChild();
}
process.stdout.write(JSON.stringify(messages));
