// npm's install step: builds the native module with the project's CMake
// when none is in native/ yet. Only the libraries and the module are built
// (no tests), in a folder inside the package that is removed afterwards, so
// the installed package keeps no path of the machine that built it.
'use strict';
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { spawnSync } = require('node:child_process');

const root = path.join(__dirname, '..');
const target = path.join(root, 'native', 'tvdcorelibinterface.node');
const build = path.join(root, 'build-native');

function fail(text) {
  console.error(`tvdcorelibinterface: ${text}`);
  process.exit(1);
}

function run(command, args) {
  const out = spawnSync(command, args, { cwd: root, stdio: 'inherit' });
  if (out.error) fail(`${command} could not run (${out.error.message}); install CMake 3.25 or newer and a C++20 compiler.`);
  if (out.status !== 0) fail(`"${command} ${args.join(' ')}" failed; the messages above say why.`);
}

// The Node-API headers and the C++ wrapper are this package's dependencies.
function packageFolder(name) {
  return path.dirname(require.resolve(`${name}/package.json`, { paths: [root] }));
}

if (fs.existsSync(target)) {
  console.log(`tvdcorelibinterface: ${path.relative(root, target)} is built`);
  process.exit(0);
}

const jobs = String(os.availableParallelism ? os.availableParallelism() : os.cpus().length);
fs.rmSync(build, { recursive: true, force: true });
// Source paths become relative in whatever the compiler writes down. CMake
// splits its flags at spaces, so a folder whose path has one goes without.
const prefixMap = /\s/.test(root) ? [] : [`-DCMAKE_CXX_FLAGS=-ffile-prefix-map=${root}/=`];
run('cmake', ['-S', '.', '-B', 'build-native', '-DCMAKE_BUILD_TYPE=Release', '-DTAVREL_TESTS=OFF', ...prefixMap,
  `-DNODE_API_INCLUDE_DIR=${path.join(packageFolder('node-api-headers'), 'include')}`,
  `-DNODE_ADDON_API_INCLUDE_DIR=${packageFolder('node-addon-api')}`]);
run('cmake', ['--build', 'build-native', '--target', 'tvdcorelibinterface', '-j', jobs]);
fs.mkdirSync(path.dirname(target), { recursive: true });
fs.copyFileSync(path.join(build, 'modules', 'node-addon', 'tvdcorelibinterface.node'), target);
fs.rmSync(build, { recursive: true, force: true });
console.log(`tvdcorelibinterface: built ${path.relative(root, target)}`);
