#!/usr/bin/env node
// The package's command "tavrel-sample-app" ("npx tavrel-sample-app"):
// runs the sample application (found as examples/locate.js says) with this
// command's arguments, input and output, hands on the signals that end it,
// and ends as it ends. The application prints "ready <specifier>#tvtk" once
// its mailboxes are open.
'use strict';
const { spawn } = require('node:child_process');
const { NotBuilt, requireSampleApp } = require('./locate.js');

const forwarded = ['SIGINT', 'SIGTERM', 'SIGHUP'];

function main() {
  let file;
  try {
    file = requireSampleApp();
  } catch (error) {
    if (!(error instanceof NotBuilt)) throw error;
    console.error(`tavrel-sample-app: ${error.message}`);
    process.exit(1);
  }
  const app = spawn(file, process.argv.slice(2), { stdio: 'inherit' });
  const forward = (signal) => app.kill(signal);
  for (const signal of forwarded) process.on(signal, forward);
  app.once('error', (error) => {
    console.error(`tavrel-sample-app: ${file} did not start (${error.message})`);
    process.exit(1);
  });
  app.once('exit', (code, signal) => {
    if (code !== null) process.exit(code);
    // Ended by a signal: end by the same one, without our handler.
    for (const name of forwarded) process.removeListener(name, forward);
    process.kill(process.pid, signal);
  });
}

main();
