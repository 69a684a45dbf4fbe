'use strict';
// A real SMTP server on 127.0.0.1 for the SMTP client's tests.
// Usage: node server.js OUT_DIR METHODS [KEY CERT]
//   METHODS: the AUTH mechanisms to offer, comma-separated (CRAM-MD5,LOGIN,PLAIN).
//   KEY CERT: PEM files; the server then speaks TLS from the first byte.
// Prints "PORT <n>" once it listens on a port of the system's choice. Every
// message goes to OUT_DIR/message-<n>.eml as received; message-<n>.txt holds
// the mechanism that authenticated the session, the envelope sender and the
// recipients, one per line. Ends when its standard input closes.
const fs = require('fs');
const path = require('path');
const { SMTPServer } = require('smtp-server');

const [outDir, methods, keyFile, certFile] = process.argv.slice(2);
const tls = keyFile && certFile
  ? { secure: true, key: fs.readFileSync(keyFile), cert: fs.readFileSync(certFile) } : {};
const USER = 'tim';
const PASSWORD = 'tanstaaftanstaaf';
let received = 0;

const server = new SMTPServer({
  authMethods: methods.split(','),
  authOptional: false,
  disabledCommands: ['STARTTLS'],
  disableReverseLookup: true,
  logger: false,
  ...tls,
  onAuth(auth, session, callback) {
    // CRAM-MD5 carries no password: the server checks the digest itself.
    const valid = auth.username === USER &&
      (auth.method === 'CRAM-MD5' ? auth.validatePassword(PASSWORD) : auth.password === PASSWORD);
    if (!valid) {
      return callback(new Error('Invalid username or password'));
    }
    return callback(null, { user: { name: auth.username, method: auth.method } });
  },
  onData(stream, session, callback) {
    const chunks = [];
    stream.on('data', (chunk) => chunks.push(chunk));
    stream.on('end', () => {
      received += 1;
      const base = path.join(outDir, `message-${received}`);
      fs.writeFileSync(`${base}.eml`, Buffer.concat(chunks));
      const lines = [session.user.method, session.envelope.mailFrom.address,
        ...session.envelope.rcptTo.map((r) => r.address)];
      fs.writeFileSync(`${base}.txt`, `${lines.join('\n')}\n`);
      callback(null, 'Message queued');
    });
  },
});

server.on('error', (error) => {
  console.error(error);
  process.exit(1);
});
server.listen(0, '127.0.0.1', () => {
  console.log(`PORT ${server.server.address().port}`);
});
process.stdin.on('end', () => process.exit(0));
process.stdin.resume();
