// npm's install step. A module built here before (native/) or the prebuilt
// one for this platform (prebuilds/) that loads in this Node is used as it
// is. Otherwise the project's CMake builds the module into native/: only the
// libraries and the module (no tests), in a folder inside the package that
// is removed afterwards, so the installed package keeps no path of the
// machine that built it. "npm install --build-from-source" builds even when
// the prebuilt module loads; JOBS or CMAKE_BUILD_PARALLEL_LEVEL says how many
// compilers run at once (one per core by default).
//
// scripts/prebuild.js uses the pieces below to make the prebuilt module.
'use strict';
const fs = require('fs');
const os = require('os');
const path = require('path');
const { spawnSync } = require('child_process');

const root = path.join(__dirname, '..');
const built = path.join(root, 'native', 'tvdcorelibinterface.node');
const prebuilt = path.join(root, 'prebuilds', `${process.platform}-${process.arch}`, 'node.napi.glibc.node');
const started = Date.now();

// Everything goes to the standard error, leaving the standard output to
// npm (the JSON of "npm pack --json", for one).
function say(text) {
  console.error(`tvdcorelibinterface: ${text}`);
}

// One line per stage, with the time since the start.
function stage(text) {
  say(`[${Math.round((Date.now() - started) / 1000)} s] ${text}`);
}

function fail(text) {
  say(text);
  process.exit(1);
}

function run(command, args) {
  const out = spawnSync(command, args, { cwd: root, stdio: ['ignore', 2, 2] });
  if (out.error) fail(`${command} could not run (${out.error.message}); install CMake 3.25 or newer and a C++20 compiler.`);
  if (out.status !== 0) fail(`"${command} ${args.join(' ')}" failed; the messages above say why.`);
}

// How many compilers run at once: JOBS, else CMAKE_BUILD_PARALLEL_LEVEL,
// else one per core.
function jobs(env = process.env) {
  for (const name of ['JOBS', 'CMAKE_BUILD_PARALLEL_LEVEL']) {
    const value = env[name];
    if (value === undefined || value === '') continue;
    if (!/^[1-9][0-9]{0,3}$/.test(value)) fail(`${name} must be a whole number from 1 to 9999, not "${value}".`);
    return Number(value);
  }
  return os.availableParallelism ? os.availableParallelism() : os.cpus().length;
}

// Whether the module at file loads into this Node, tried in a process of
// its own so that a module that does not fit cannot harm this one.
function loads(file) {
  if (!fs.existsSync(file)) return false;
  const out = spawnSync(process.execPath, ['-e', `require(${JSON.stringify(file)})`], { stdio: 'ignore' });
  return out.status === 0;
}

// The Node-API headers and the C++ wrapper are this package's dependencies.
function packageFolder(name) {
  return path.dirname(require.resolve(`${name}/package.json`, { paths: [root] }));
}

// Configures folder (relative to the package) for the libraries and the
// module alone, with source paths made relative in what the compiler writes
// down (CMake splits its flags at spaces, so a folder whose path has one
// goes without).
function configure(folder, buildType) {
  const prefixMap = /\s/.test(root) ? [] : [`-DCMAKE_CXX_FLAGS=-ffile-prefix-map=${root}/=`];
  stage(`configuring the build in ${folder} (CMake)`);
  run('cmake', ['-S', '.', '-B', folder, `-DCMAKE_BUILD_TYPE=${buildType}`, '-DTAVREL_TESTS=OFF', ...prefixMap,
    `-DNODE_API_INCLUDE_DIR=${path.join(packageFolder('node-api-headers'), 'include')}`,
    `-DNODE_ADDON_API_INCLUDE_DIR=${packageFolder('node-addon-api')}`]);
}

function build(folder, target, count = jobs()) {
  stage(`compiling and linking ${target} with ${count} jobs (JOBS sets how many); ` +
    'a first build takes a few minutes');
  run('cmake', ['--build', folder, '--target', target, '-j', String(count)]);
}

function main() {
  const fromSource = /^(true|1)$/.test(process.env.npm_config_build_from_source || '');
  if (fs.existsSync(built)) {
    say(`${path.relative(root, built)} is built`);
    return;
  }
  if (!fromSource && loads(prebuilt)) {
    say(`using the prebuilt ${path.relative(root, prebuilt)}`);
    return;
  }
  stage(fromSource ? 'building from source, as asked' : `no prebuilt module loads on ${process.platform}-` +
    `${process.arch} with Node ${process.version}: building from source`);
  const count = jobs();
  const folder = 'build-native';
  fs.rmSync(path.join(root, folder), { recursive: true, force: true });
  configure(folder, 'Release');
  build(folder, 'tvdcorelibinterface', count);
  fs.mkdirSync(path.dirname(built), { recursive: true });
  fs.copyFileSync(path.join(root, folder, 'modules', 'node-addon', 'tvdcorelibinterface.node'), built);
  fs.rmSync(path.join(root, folder), { recursive: true, force: true });
  stage(`built ${path.relative(root, built)}`);
}

if (require.main === module) main();

module.exports = { root, prebuilt, say, stage, fail, run, jobs, configure, build };
