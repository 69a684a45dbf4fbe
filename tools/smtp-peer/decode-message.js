'use strict';
// Decodes a received message with the WHATWG decoders that browsers and mail
// programs use (ISO-2022-JP or UTF-8, as its Content-Type says; a Base64 body
// is decoded first), and prints the display names, the subject and the body
// as UTF-8. Any undecodable byte makes it fail.
// Usage: node decode-message.js FILE
const fs = require('fs');

const raw = fs.readFileSync(process.argv[2]).toString('latin1');
const split = raw.indexOf('\r\n\r\n');
// Folded lines joined; the blanks between two encoded words are no text.
const header = raw.slice(0, split).replace(/\r\n[ \t]/g, ' ')
  .replace(/\?=[ \t]+=\?/g, '?==?');
const charset = /charset="?([A-Za-z0-9-]+)"?/i.exec(header)[1].toLowerCase();
const base64 = /^content-transfer-encoding: base64$/im.test(header);
const rawBody = raw.slice(split + 4);
const body = base64 ? Buffer.from(rawBody, 'base64') : Buffer.from(rawBody, 'latin1');
const decoder = (name) => new TextDecoder(name.toLowerCase(), { fatal: true });

function field(name) {
  const line = header.split('\r\n').find((l) => l.toLowerCase().startsWith(`${name.toLowerCase()}: `));
  if (line === undefined) {
    throw new Error(`no ${name} field`);
  }
  return line.slice(name.length + 2).replace(/=\?(ISO-2022-JP|UTF-8)\?B\?([A-Za-z0-9+/=]*)\?=/gi,
    (_, words, b64) => decoder(words).decode(Buffer.from(b64, 'base64')));
}

process.stdout.write(`From: ${field('From')}\n`);
process.stdout.write(`To: ${field('To')}\n`);
process.stdout.write(`Subject: ${field('Subject')}\n`);
process.stdout.write(`Body:\n${decoder(charset).decode(body)}`);
