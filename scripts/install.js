// npm's install step. A module built here before (native/) or the prebuilt
// one for this platform (prebuilds/) that loads in this Node is used as it
// is. Otherwise the project's CMake builds the module and the sample
// application into native/: only the libraries and those two (no tests), in
// a folder inside the package that is removed afterwards, so the installed
// package keeps no path of the machine that built it. TVD_BUILD_FROM_SOURCE=1
// (or npm's --build-from-source, which npm now warns about) builds even when
// a module loads; JOBS or CMAKE_BUILD_PARALLEL_LEVEL says how many compilers
// run at once (one per core by default).
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
// What a user types to build from source where the package is installed;
// npm shows the stage lines only with --foreground-scripts.
const buildCommand = 'TVD_BUILD_FROM_SOURCE=1 npm rebuild tvdcorelibinterface --foreground-scripts';
// The CMake targets built from source and where each goes in the package.
const products = [
  { target: 'tvdcorelibinterface', file: path.join('modules', 'node-addon', 'tvdcorelibinterface.node'), to: built },
  { target: 'tavrel_sample_app', file: path.join('examples', 'tavrel_sample_app'),
    to: path.join(root, 'native', 'tavrel_sample_app') },
];
// The packages the build takes its Node-API headers and C++ wrapper from.
const headerPackages = ['node-addon-api', 'node-api-headers'];

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
  try {
    return path.dirname(require.resolve(`${name}/package.json`, { paths: [root] }));
  } catch {
    return null;
  }
}

// Fails in one line unless the header packages are installed (a fresh
// clone has none until "scripts/setup" or "npm ci --ignore-scripts").
function requireHeaderPackages() {
  const missing = headerPackages.filter((name) => !packageFolder(name));
  if (missing.length) {
    fail(`${missing.join(' and ')} ${missing.length > 1 ? 'are' : 'is'} missing: run "npm ci --ignore-scripts" ` +
      `(or "scripts/setup") in ${root} first; they hold the Node-API headers the build needs`);
  }
}

// Configures folder (relative to the package) for the libraries and the
// module alone, with source paths made relative in what the compiler writes
// down (CMake splits its flags at spaces, so a folder whose path has one
// goes without).
function configure(folder, buildType) {
  requireHeaderPackages();
  const prefixMap = /\s/.test(root) ? [] : [`-DCMAKE_CXX_FLAGS=-ffile-prefix-map=${root}/=`];
  stage(`configuring the build in ${folder} (CMake)`);
  run('cmake', ['-S', '.', '-B', folder, `-DCMAKE_BUILD_TYPE=${buildType}`, '-DTAVREL_TESTS=OFF', ...prefixMap,
    `-DNODE_API_INCLUDE_DIR=${path.join(packageFolder('node-api-headers'), 'include')}`,
    `-DNODE_ADDON_API_INCLUDE_DIR=${packageFolder('node-addon-api')}`]);
}

function build(folder, targets, count = jobs()) {
  stage(`compiling and linking ${targets.join(' and ')} with ${count} jobs (JOBS sets how many); ` +
    'a first build takes a few minutes');
  run('cmake', ['--build', folder, '--target', ...targets, '-j', String(count)]);
}

// Asked to build even when a module loads: TVD_BUILD_FROM_SOURCE, or npm's
// own --build-from-source, which reaches here as npm_config_build_from_source.
function fromSourceAsked(env = process.env) {
  return ['TVD_BUILD_FROM_SOURCE', 'npm_config_build_from_source'].some((name) => /^(true|1)$/.test(env[name] || ''));
}

function main() {
  const fromSource = fromSourceAsked();
  if (!fromSource && loads(built)) {
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
  build(folder, products.map((p) => p.target), count);
  fs.mkdirSync(path.dirname(built), { recursive: true });
  for (const product of products) fs.copyFileSync(path.join(root, folder, product.file), product.to);
  fs.rmSync(path.join(root, folder), { recursive: true, force: true });
  stage(`built ${products.map((p) => path.relative(root, p.to)).join(' and ')}`);
}

if (require.main === module) main();

module.exports = { root, prebuilt, buildCommand, say, stage, fail, run, jobs, requireHeaderPackages, configure, build };
