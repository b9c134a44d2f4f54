// Node's own parse of the benchmark text, for comparison: in-process
// `new vm.Script(text)`, median of 15 runs, each text given a comment of its
// own so that Node's code cache cannot serve a later run.
//
//   node script/frontend/bench/node-reference.js FILE.tvs          (inner functions pre-parsed)
//   node --no-lazy script/frontend/bench/node-reference.js FILE.tvs (every tree and its bytecode built)
'use strict';
const fs = require('fs');
const vm = require('vm');

const file = process.argv[2];
if (!file) {
  console.error('usage: node node-reference.js FILE');
  process.exit(2);
}
const text = fs.readFileSync(file, 'utf8');
const rates = [];
for (let run = 0; run < 15; run++) {
  const source = `${text}\n// run ${run} ${process.hrtime.bigint()}\n`;
  const started = process.hrtime.bigint();
  new vm.Script(source, { filename: `run${run}.js` });
  const seconds = Number(process.hrtime.bigint() - started) / 1e9;
  rates.push(text.length / 1e6 / seconds);
}
rates.sort((a, b) => a - b);
console.log(`node ${process.version}${process.execArgv.length ? ' ' + process.execArgv.join(' ') : ''}: ` +
            `median ${rates[7].toFixed(1)} MB/s (slowest ${rates[0].toFixed(1)}, fastest ${rates[14].toFixed(1)})`);
