// What the thread tests run: the script services job, which the main
// thread runs too, and the tasks a worker runs when started on this file
// with workerData { addonPath, task, ... }. A worker reports with one
// message, or not at all when its task ends it.
'use strict';
const { isMainThread, parentPort, workerData, threadId } = require('node:worker_threads');

const deep = 20000;
const scripts = [
  ['a correct script', 'var a = 1;\nfunction f(x) { return x * a; }'],
  ['a syntax error', 'var a = ;'],
  ['an error on the second line', 'var a = 1;\nif (a) {'],
  ['E4X', 'var x = <a><b c="1"/></a>;\nx.b.@c'],
  ['directives', '#target "sampleapp"\n#strict on\n#script "named"\nvar a;'],
  ['deep nesting', '('.repeat(deep) + '1' + ')'.repeat(deep)],
];

// A literal whose check or compile keeps its thread busy for a while:
// 300,000 elements, in rows, so that no one list grows past 300.
const row = `[${'1,'.repeat(299)}1]`;
const huge = `[${Array(1000).fill(row).join(',')}]`;

// Cells of the Int32Array over a test's SharedArrayBuffer: set (and
// notified) by a worker as it reaches a point, or by the test to let it on.
const cells = { calling: 0, holding: 1, release: 2, go: 3, count: 4 };

function signal(flags, cell) {
  Atomics.store(flags, cell, 1);
  Atomics.notify(flags, cell);
}

function waitFor(flags, cell) {
  while (Atomics.load(flags, cell) === 0) Atomics.wait(flags, cell, 0);
}

// Sends a message no one receives: its error reply waits for the next pump.
function awaitReply(addon) {
  addon.tvdSendDebugMessage('x'.repeat(300), 'lost', false);
}

// Pumps until the callback has been called once.
function pumpOnce(addon, callback) {
  let called = false;
  while (!called) {
    addon.tvdPumpSession((...delivery) => {
      called = true;
      callback(...delivery);
    });
  }
}

// The calls a worker is stopped in.
const calls = {
  checkHuge: (addon) => addon.tvdCheckSyntax(huge, 'huge.tvs', ''),
  compileHuge: (addon) => addon.tvdCompileToTVSBin(huge, 'huge.tvs', ''),
  check: (addon) => addon.tvdCheckSyntax('var a = ;', 'a.tvs', ''),
  isInitialized: (addon) => addon.tvdIsInitialized(),
  // Signals from inside the callback, so the stop lands inside the call.
  loopInPump(addon, flags) {
    awaitReply(addon);
    pumpOnce(addon, () => {
      signal(flags, cells.calling);
      for (;;);
    });
  },
};

// Every script service once per script; the answers as one text.
function runJob(addon) {
  const answers = [];
  for (const [name, source] of scripts) {
    answers.push([name, addon.tvdCheckSyntax(source, `${name}.tvs`, ''),
      addon.tvdCompileToTVSBin(source, `${name}.tvs`, ''), addon.tvdGetScriptDirectives(source, `${name}.tvs`)]);
  }
  answers.push(addon.tvdPathToUri('/a b/c'), addon.tvdUriToPath('/a%20b/c'));
  return JSON.stringify(answers);
}

const tasks = {
  // Runs the job until the main thread says stop (and at least once); counts
  // the rounds in the shared counter and the answers unlike the expected.
  checks(addon, { expected, shared }) {
    const flags = new Int32Array(shared);
    let rounds = 0;
    let unlike = null;
    do {
      const answer = runJob(addon);
      if (answer !== expected && !unlike) unlike = answer;
      rounds++;
      Atomics.add(flags, 1, 1);
    } while (Atomics.load(flags, 0) === 0);
    return { rounds, unlike };
  },

  deepCheck(addon) {
    return addon.tvdCheckSyntax(scripts.at(-1)[1], 'deep.tvs', '');
  },

  // The session's services from a worker, and a pump whose callback runs here.
  useSession(addon) {
    const sent = addon.tvdSendDebugMessage('x'.repeat(300), 'lost', false);
    const got = [];
    const end = Date.now() + 5000;
    while (got.length === 0 && Date.now() < end)
      addon.tvdPumpSession((kind, message) => got.push({ kind, body: message.body, thread: threadId }));
    return { up: addon.tvdIsInitialized(), again: addon.tvdInitialize('other', '1'),
      resolved: addon.tvdResolveApplicationSpecifier('sampleapp').status, sent, got, thread: threadId };
  },

  start(addon, { application }) {
    return addon.tvdInitialize(application, '1');
  },

  // Signals, then makes one of the calls above.
  call(addon, { shared, call }) {
    const flags = new Int32Array(shared);
    if (call !== 'loopInPump') signal(flags, cells.calling);
    return calls[call](addon, flags);
  },

  // Holds the turn inside a pump's callback until the test releases it.
  holdTurn(addon, { shared }) {
    const flags = new Int32Array(shared);
    awaitReply(addon);
    pumpOnce(addon, () => {
      signal(flags, cells.holding);
      waitFor(flags, cells.release);
    });
    return 'released';
  },

  // Starts the session, then ends when the test says go.
  startThenEnd(addon, { shared, application }) {
    const flags = new Int32Array(shared);
    const started = addon.tvdInitialize(application, '1');
    signal(flags, cells.calling);
    waitFor(flags, cells.go);
    return started;
  },

  once(addon) {
    return runJob(addon);
  },

  // With the module loaded, waits for a release that never comes.
  idle(addon, { shared }) {
    const flags = new Int32Array(shared);
    signal(flags, cells.calling);
    waitFor(flags, cells.release);
  },

  // Waits for its turn while the main thread holds it.
  waitTurn(addon, { shared }) {
    const flags = new Int32Array(shared);
    waitFor(flags, cells.holding);
    signal(flags, cells.calling);
    return addon.tvdIsInitialized();
  },

  // Ends the worker from inside the first delivery.
  exitInPump(addon, { start }) {
    if (start) addon.tvdInitialize(start, '1');
    addon.tvdSendDebugMessage('x'.repeat(300), 'lost', false);
    const end = Date.now() + 5000;
    while (Date.now() < end) addon.tvdPumpSession(() => process.exit(0));
    return 'the pump never called back';
  },
};

if (!isMainThread && workerData && workerData.task) {
  const addon = require(workerData.addonPath);
  parentPort.postMessage(tasks[workerData.task](addon, workerData));
}

// Run as a program with a worker task ("idle", "waitTurn"): starts a
// session and that worker, then exits with 7 from inside a pump callback
// on the main thread, which holds the turn, once the worker is at its
// point.
if (isMainThread && require.main === module) {
  const { Worker } = require('node:worker_threads');
  const addonPath = process.env.TVD_ADDON;
  const addon = require(addonPath);
  addon.tvdInitialize(`exit${process.pid}`, '1');
  const shared = new SharedArrayBuffer(cells.count * 4);
  const flags = new Int32Array(shared);
  new Worker(__filename, { workerData: { addonPath, task: process.argv[2], shared } });
  awaitReply(addon);
  pumpOnce(addon, () => {
    signal(flags, cells.holding);
    waitFor(flags, cells.calling);
    // A moment for the worker to be inside its call.
    Atomics.wait(flags, cells.go, 0, 50);
    process.exit(7);
  });
}

module.exports = { runJob, scripts, cells, signal, waitFor, awaitReply, pumpOnce };
