// npm's prepack step: the prebuilt module the package ships,
// prebuilds/linux-x64/node.napi.glibc.node (the layout prebuildify gives,
// so tools that know it find the file too). It is the CMake target
// tvdcorelibinterface_prebuilt: the project's libraries with expat, TinyXML
// and libcrypto linked in, nothing but the TVD... functions visible, and
// no run-time dependency but the C and C++ runtimes. It is linked in build/
// when that folder holds a release build of its own (scripts/test makes
// one), so packing there compiles nothing again; else in build-prebuild/.
'use strict';
const fs = require('fs');
const path = require('path');
const { root, prebuilt, say, stage, fail, configure, build } = require('./install.js');

const target = 'tvdcorelibinterface_prebuilt';

// The CMake cache's value of name in folder, or undefined.
function cached(folder, name) {
  const cache = path.join(root, folder, 'CMakeCache.txt');
  if (!fs.existsSync(cache)) return undefined;
  const line = fs.readFileSync(cache, 'utf8').split('\n').find((l) => l.startsWith(`${name}:`));
  return line === undefined ? undefined : line.slice(line.indexOf('=') + 1);
}

function buildFolder() {
  const type = cached('build', 'CMAKE_BUILD_TYPE');
  if ((type === 'Release' || type === 'RelWithDebInfo') && cached('build', 'TAVREL_SANITIZE') === 'OFF') return 'build';
  configure('build-prebuild', 'Release');
  return 'build-prebuild';
}

function main() {
  fs.rmSync(path.join(root, 'prebuilds'), { recursive: true, force: true });
  if (`${process.platform}-${process.arch}` !== 'linux-x64') {
    say(`no prebuilt module for ${process.platform}-${process.arch}: the package builds from source when installed`);
    return;
  }
  const folder = buildFolder();
  const missing = ['expat', 'tinyxml', 'crypto'].filter((name) => !/\.a$/.test(cached(folder, `TAVREL_STATIC_${name}`) || ''));
  if (missing.length) {
    fail(`the static archives of ${missing.join(', ')} are missing (Debian: libexpat1-dev, libtinyxml-dev, ` +
      'libssl-dev), so no prebuilt module can be made');
  }
  build(folder, target);
  fs.mkdirSync(path.dirname(prebuilt), { recursive: true });
  fs.copyFileSync(path.join(root, folder, 'modules', 'node-addon', 'prebuilt', 'tvdcorelibinterface.node'), prebuilt);
  stage(`made ${path.relative(root, prebuilt)}`);
}

main();
