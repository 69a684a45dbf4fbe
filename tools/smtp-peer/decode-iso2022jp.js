'use strict';
// Decodes a received ISO-2022-JP message with the WHATWG decoder that
// browsers and mail programs use, and prints the display names, the subject
// and the body as UTF-8. Any undecodable byte makes it fail.
// Usage: node decode-iso2022jp.js FILE
const fs = require('fs');

const raw = fs.readFileSync(process.argv[2]).toString('latin1');
const split = raw.indexOf('\r\n\r\n');
// Folded lines joined; the blanks between two encoded words are no text.
const header = raw.slice(0, split).replace(/\r\n[ \t]/g, ' ')
  .replace(/\?=[ \t]+=\?/g, '?==?');
const body = Buffer.from(raw.slice(split + 4), 'latin1');
const decoder = () => new TextDecoder('iso-2022-jp', { fatal: true });

function field(name) {
  const line = header.split('\r\n').find((l) => l.toLowerCase().startsWith(`${name.toLowerCase()}: `));
  if (line === undefined) {
    throw new Error(`no ${name} field`);
  }
  return line.slice(name.length + 2).replace(/=\?ISO-2022-JP\?B\?([A-Za-z0-9+/=]*)\?=/g,
    (_, b64) => decoder().decode(Buffer.from(b64, 'base64')));
}

process.stdout.write(`From: ${field('From')}\n`);
process.stdout.write(`To: ${field('To')}\n`);
process.stdout.write(`Subject: ${field('Subject')}\n`);
process.stdout.write(`Body:\n${decoder().decode(body)}`);
