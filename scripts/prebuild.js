// npm's prepack step: the prebuilt module the package ships,
// prebuilds/linux-x64/node.napi.glibc.node (the layout prebuildify gives,
// so tools that know it find the file too), and the sample application
// beside it, prebuilds/linux-x64/tavrel_sample_app. They are the CMake
// targets tvdcorelibinterface_prebuilt (the project's libraries with expat,
// TinyXML and libcrypto linked in, nothing but the TVD... functions
// visible) and tavrel_sample_app_prebuilt (linked the same way), with no
// run-time dependency but the C and C++ runtimes. They are linked in build/
// when that folder holds a release build of its own (scripts/test makes
// one), so packing there compiles nothing again; else in build-prebuild/.
'use strict';
const fs = require('fs');
const path = require('path');
const { root, prebuilt, say, stage, fail, requireHeaderPackages, configure, build } = require('./install.js');

// Each target, the file it links and where that goes in the package.
const products = [
  { target: 'tvdcorelibinterface_prebuilt',
    file: path.join('modules', 'node-addon', 'prebuilt', 'tvdcorelibinterface.node'), to: prebuilt },
  { target: 'tavrel_sample_app_prebuilt', file: path.join('examples', 'prebuilt', 'tavrel_sample_app'),
    to: path.join(path.dirname(prebuilt), 'tavrel_sample_app') },
];

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
  requireHeaderPackages();
  const folder = buildFolder();
  const missing = ['expat', 'tinyxml', 'crypto'].filter((name) => !/\.a$/.test(cached(folder, `TAVREL_STATIC_${name}`) || ''));
  if (missing.length) {
    fail(`the static archives of ${missing.join(', ')} are missing (Debian: libexpat1-dev, libtinyxml-dev, ` +
      'libssl-dev), so no prebuilt module can be made');
  }
  build(folder, products.map((p) => p.target));
  fs.mkdirSync(path.dirname(prebuilt), { recursive: true });
  for (const product of products) fs.copyFileSync(path.join(root, folder, product.file), product.to);
  stage(`made ${products.map((p) => path.relative(root, p.to)).join(' and ')}`);
}

main();
