// The module in worker threads beside the main thread: calls take turns
// and each answers as it would alone; the session serves every thread and
// ends with the environment that started it.
'use strict';
const test = require('node:test');
const assert = require('node:assert/strict');
const path = require('node:path');
const { spawnSync } = require('node:child_process');
const { Worker } = require('node:worker_threads');
// A module built with the sanitizers loads only with their runtimes
// preloaded, which the shared helpers drop for the processes they start.
const preload = process.env.LD_PRELOAD;
const { ownFolders, loadAddon, addonPath, pumpUntil, sessionFor } = require('./helpers');
const { runJob, cells } = require('./threads-worker');

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

// The cells workers signal through (threads-worker.js).
function sharedCells() {
  const shared = new SharedArrayBuffer(cells.count * 4);
  return { shared, flags: new Int32Array(shared) };
}

// Resolves once a worker has set the cell.
async function reached(flags, cell) {
  while (Atomics.load(flags, cell) === 0) await Atomics.waitAsync(flags, cell, 0).value;
}

function set(flags, cell) {
  Atomics.store(flags, cell, 1);
  Atomics.notify(flags, cell);
}

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

// [the call a worker is stopped in, whether another worker holds the turn
// meanwhile, so that the stopped one waits for it]
const stops = [
  ['checkHuge', false],
  ['compileHuge', false],
  ['loopInPump', false],
  ['check', true],
];

test('a worker stopped inside a call, or waiting for its turn, leaves the process and the other threads working',
  withSession(async () => {
    const expected = runJob(addon);
    for (const [call, held] of stops) {
      for (let round = 0; round < 3; round++) {
        const what = `${call}, round ${round}`;
        const { shared, flags } = sharedCells();
        const holder = held ? run('holdTurn', { shared }) : null;
        if (holder) await reached(flags, cells.holding);
        const stopped = run('call', { shared, call });
        try {
          await reached(flags, cells.calling);
          // Well into the call; the pump signals from inside its callback.
          if (call !== 'loopInPump') await new Promise((r) => setTimeout(r, 50));
          stopped.worker.terminate();
        } finally {
          // The stopped worker, waiting, now gets its turn.
          set(flags, cells.release);
        }
        if (holder) assert.equal(await holder.done, 'released', what);
        await stopped.done;
        assert.equal(addon.tvdIsInitialized(), true, what);
        assert.equal(runJob(addon), expected, `${what}: the main thread`);
        assert.equal(await run('once').done, expected, `${what}: a second worker`);
      }
    }
  }));

test('a worker stopped while it waits for its turn ends without waiting for the holder', withSession(async () => {
  const { shared, flags } = sharedCells();
  const holder = run('holdTurn', { shared });
  await reached(flags, cells.holding);
  try {
    const waiting = run('call', { shared, call: 'isInitialized' });
    await reached(flags, cells.calling);
    // Resolves once the worker has ended: the holder still holds the turn.
    await waiting.worker.terminate();
  } finally {
    set(flags, cells.release);
  }
  assert.equal(await holder.done, 'released');
  assert.equal(addon.tvdIsInitialized(), true);
}));

test('a session ends with the worker that started it even when another thread holds the turn then', async () => {
  const application = `${app}h`;
  const { shared, flags } = sharedCells();
  const owner = run('startThenEnd', { shared, application });
  await reached(flags, cells.calling);
  const holder = run('holdTurn', { shared });
  await reached(flags, cells.holding);
  try {
    // The owner ends while the holder keeps the turn.
    set(flags, cells.go);
    assert.deepEqual(await owner.done, { status: 0 });
  } finally {
    set(flags, cells.release);
  }
  assert.equal(await holder.done, 'released');
  assert.equal(addon.tvdIsInitialized(), false);
  // Its mailbox is free again.
  assert.deepEqual(addon.tvdInitialize(application, '1'), { status: 0 });
  assert.deepEqual(addon.tvdCleanup(), { status: 0 });
});

test('a process that exits inside a callback ends, though its workers use the module', () => {
  const env = preload ? { ...process.env, LD_PRELOAD: preload } : process.env;
  // An idle worker, and one waiting for the turn the exiting thread holds.
  for (const task of ['idle', 'waitTurn']) {
    const out = spawnSync(process.execPath, [workerFile, task], { env, encoding: 'utf8' });
    assert.equal(out.status, 7, `${task}\n${out.stderr}`);
  }
});
