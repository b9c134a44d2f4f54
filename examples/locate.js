// Where the examples find the debugger core's module and the sample
// application, the same way in an installed package and in a clone of the
// repository:
//
// - the module: TVD_ADDON when set; else the package by its name (from a
//   clone, the package is the clone itself); else the clone's build folder;
// - the sample application: TAVREL_SAMPLE_APP when set; else the package's
//   own copy (built where it was installed, native/, or prebuilt,
//   prebuilds/<platform>-<arch>/); else the clone's build folder.
//
// What is missing is reported as one line that names the command building
// it (NotBuilt); the examples print that line and nothing else.
'use strict';
const fs = require('node:fs');
const path = require('node:path');
const readline = require('node:readline');
const { spawn } = require('node:child_process');

const root = path.join(__dirname, '..');
const build = path.join(root, 'build');
const appName = 'tavrel_sample_app';
// Only a clone has the script that builds its build folder.
const inClone = fs.existsSync(path.join(root, 'scripts', 'demo'));

class NotBuilt extends Error {}

// One line that says what is missing and which command builds it.
function notBuilt(what) {
  const both = 'the module and the sample application';
  const command = inClone ? `"scripts/demo" builds ${both} into build/`
    : `"${require('../scripts/install.js').buildCommand}" builds ${both} where the package is installed`;
  return new NotBuilt(`${what}: ${command}`);
}

function loadAddon(env = process.env) {
  if (env.TVD_ADDON) return require(path.resolve(env.TVD_ADDON));
  let failure;
  try {
    return require('tvdcorelibinterface');
  } catch (error) {
    failure = error;
  }
  const built = path.join(build, 'modules', 'node-addon', 'tvdcorelibinterface.node');
  if (fs.existsSync(built)) return require(built);
  // The package's own error already names the command; a clone's does not.
  if (!inClone && failure.code !== 'MODULE_NOT_FOUND') throw new NotBuilt(failure.message.split('\n')[0]);
  throw notBuilt('no native module of the debugger core is built');
}

// The sample application's path, or null.
function sampleAppPath(env = process.env) {
  if (env.TAVREL_SAMPLE_APP) return path.resolve(env.TAVREL_SAMPLE_APP);
  const candidates = [path.join(root, 'native', appName),
    path.join(root, 'prebuilds', `${process.platform}-${process.arch}`, appName),
    path.join(build, 'examples', appName)];
  return candidates.find((file) => fs.existsSync(file)) || null;
}

function requireSampleApp(env = process.env) {
  const file = sampleAppPath(env);
  if (!file) throw notBuilt('no sample application is built');
  return file;
}

// Starts the sample application with args and resolves with its process
// once it has printed "ready"; its standard input is a pipe, and closing it
// (stopSampleApp) ends the application.
function startSampleApp(args, env = process.env) {
  const app = spawn(requireSampleApp(env), args, { env, stdio: ['pipe', 'pipe', 'inherit'] });
  return new Promise((resolve, reject) => {
    readline.createInterface({ input: app.stdout }).once('line', (line) =>
      (line.startsWith('ready') ? resolve(app) : reject(new Error(line))));
    app.once('error', reject);
    app.once('exit', (code, signal) => reject(new Error(`the sample application ended (${signal || code})`)));
  });
}

async function stopSampleApp(app) {
  if (app.exitCode !== null || app.signalCode !== null) return;
  const ended = new Promise((resolve) => app.once('exit', resolve));
  app.stdin.end();
  await ended;
}

module.exports = { NotBuilt, loadAddon, sampleAppPath, requireSampleApp, startSampleApp, stopSampleApp };
