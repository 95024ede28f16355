#!/bin/sh
# Writes the S/MIME test messages of this folder again, with a throwaway key and self-signed
# certificate made for them (test-key.pem, test-cert.pem; for these tests only). The PGP/MIME
# messages are written by hand: their signature and ciphertext are never checked.
set -eu
cd "$(dirname "$0")"
openssl req -x509 -newkey rsa:2048 -nodes -days 36500 -subj "/CN=Quillsort Test Signer/emailAddress=signer@example.org" \
  -keyout test-key.pem -out test-cert.pem 2>/dev/null

head() {
  printf 'Date: Tue, 03 Mar 2026 10:%s:00 +0100\r\nMessage-ID: <%s@example.org>\r\n' "$1" "$2"
}

# The signed content: a text body and a small file, as a mail client writes them.
printf '%s\r\n' 'Content-Type: multipart/mixed; boundary="inner-mixed-7"' '' \
  '--inner-mixed-7' 'Content-Type: text/plain; charset=utf-8' 'Content-Transfer-Encoding: quoted-printable' '' \
  'The quarterly figures are attached. Sign-off by Friday, please.' '' 'Gr=C3=BC=C3=9Fe, Signer' '' \
  '--inner-mixed-7' 'Content-Type: text/csv; name="figures.csv"' 'Content-Disposition: attachment; filename="figures.csv"' '' \
  'quarter,amount' 'Q1,1200' 'Q2,1350' '' '--inner-mixed-7--' > inner.tmp

{ head 01 clear-signed
  openssl smime -sign -in inner.tmp -signer test-cert.pem -inkey test-key.pem -from "Signer <signer@example.org>" \
    -to "Reader <reader@example.org>" -subject "Signed figures" -crlfeol; } > clear-signed.eml
# The same message as a mail program that keeps LF line ends saves it.
tr -d '\r' < clear-signed.eml > clear-signed-lf.eml

{ head 02 opaque-signed
  openssl smime -sign -nodetach -in inner.tmp -signer test-cert.pem -inkey test-key.pem -from "Signer <signer@example.org>" \
    -to "Reader <reader@example.org>" -subject "Opaque figures" -crlfeol | sed 's|application/x-pkcs7-mime|application/pkcs7-mime|'; } > opaque-signed.eml

{ head 03 enveloped
  openssl smime -encrypt -aes256 -in inner.tmp -from "Signer <signer@example.org>" -to "Reader <reader@example.org>" \
    -subject "Secret figures" -crlfeol test-cert.pem; } > enveloped.eml
# A signed message that a mailing list sent on with a footer of its own: the signed entity is no
# longer the message, which is then an ordinary one.
sed -n '/^Content-Type: multipart\/signed/,$p' clear-signed.eml > signed-entity.tmp
{ head 04 list-footer
  printf '%s\r\n' 'From: Signer <signer@example.org>' 'To: list@example.org' 'Subject: [list] Signed figures' \
    'MIME-Version: 1.0' 'Content-Type: multipart/mixed; boundary="list-footer-1"' '' '--list-footer-1'
  cat signed-entity.tmp
  printf '%s\r\n' '' '--list-footer-1' 'Content-Type: text/plain' '' 'You are subscribed to list@example.org.' \
    '--list-footer-1--'; } > list-footer.eml
rm inner.tmp signed-entity.tmp
