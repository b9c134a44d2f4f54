// The module in worker threads beside the main thread: calls take turns
// and each answers as it would alone; the session serves every thread and
// ends with the environment that started it.
'use strict';
const test = require('node:test');
const assert = require('node:assert/strict');
const path = require('node:path');
const { Worker } = require('node:worker_threads');
const { ownFolders, loadAddon, addonPath, pumpUntil, sessionFor } = require('./helpers');
const { runJob } = require('./threads-worker');

ownFolders();
const addon = loadAddon();
const app = `threads${process.pid}`;
const workerFile = path.join(__dirname, 'threads-worker.js');

// Starts a worker on a task; resolves with its message, or with null when
// it ended without one.
function run(task, data = {}, options = {}) {
  const worker = new Worker(workerFile, { ...options, workerData: { addonPath, task, ...data } });
  const done = new Promise((resolve, reject) => {
    let answer = null;
    worker.on('message', (m) => { answer = m; });
    worker.on('error', reject);
    worker.on('exit', () => resolve(answer));
  });
  return { worker, done };
}

const withSession = sessionFor(addon, app, '1');

test('8 workers and the main thread checking at once answer as one thread alone', withSession(async () => {
  const expected = runJob(addon);
  assert.match(expected, /Stack overrun/);
  // flags[0]: stop; flags[1]: rounds done by the workers.
  const shared = new SharedArrayBuffer(8);
  const flags = new Int32Array(shared);
  const workers = Array.from({ length: 8 }, () => run('checks', { expected, shared }));
  // One more is ended in the middle of its work.
  const ended = run('checks', { expected, shared });
  let rounds = 0;
  while (Atomics.load(flags, 1) < 40 || rounds < 5) {
    assert.equal(runJob(addon), expected, `main thread, round ${rounds}`);
    rounds++;
    if (rounds === 2) ended.worker.terminate();
  }
  Atomics.store(flags, 0, 1);
  for (const { done } of workers) {
    const { unlike } = await done;
    assert.equal(unlike, null);
  }
  await ended.done;
  assert.equal(runJob(addon), expected);
}));

test('a worker with a small stack reports deep nesting as an error', withSession(async () => {
  for (const stackSizeMb of [1, 4]) {
    const report = await run('deepCheck', {}, { resourceLimits: { stackSizeMb } }).done;
    assert.equal(report.status, 0);
    assert.match(report.result, /Stack overrun/, `${stackSizeMb} MB`);
  }
}));

test('a worker uses the main thread\'s session; its pump calls back on the worker', withSession(async () => {
  const answer = await run('useSession').done;
  assert.equal(answer.up, true);
  assert.deepEqual(answer.again, { status: 11 });
  assert.equal(answer.resolved, 0);
  assert.deepEqual(answer.sent, { status: -1 });
  assert.equal(answer.got.length, 1);
  assert.equal(answer.got[0].kind, 4);
  assert.match(answer.got[0].body, /^ERROR: /);
  assert.equal(answer.got[0].thread, answer.thread);
  // The reply went to the worker's callback and to no other.
  assert.deepEqual(await pumpUntil(addon, () => false, 200), []);
}));

test('a session ends with the worker that started it', async () => {
  for (const task of ['start', 'exitInPump']) {
    const application = `${app}w`;
    const answer = await run(task, { application, start: application }).done;
    if (task === 'start') assert.deepEqual(answer, { status: 0 });
    else assert.equal(answer, null);
    assert.equal(addon.tvdIsInitialized(), false, task);
    // Its mailbox is free again.
    assert.deepEqual(addon.tvdInitialize(application, '1'), { status: 0 }, task);
    assert.deepEqual(addon.tvdCleanup(), { status: 0 });
  }
});

test('a session another thread started outlives a worker that used it', withSession(async () => {
  await run('useSession').done;
  assert.equal(addon.tvdIsInitialized(), true);
}));

test('a worker that ends inside its pump leaves the undelivered messages to the next pump', withSession(async () => {
  // Three error replies wait; the worker's callback ends it at the first.
  for (let i = 0; i < 2; i++) assert.equal(addon.tvdSendDebugMessage('y'.repeat(300 + i), 'lost', false).status, -1);
  assert.equal(await run('exitInPump').done, null);
  const got = await pumpUntil(addon, (g) => g.length >= 2, 2000);
  assert.deepEqual(got.map((d) => d.kind), [4, 4]);
  assert.equal(addon.tvdIsInitialized(), true);
}));
