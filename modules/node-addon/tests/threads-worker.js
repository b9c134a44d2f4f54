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

module.exports = { runJob, scripts };
