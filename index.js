// The debugger core as a Node module: the 17 functions of the native add-on.
// A module built on this machine (native/, by the install script) comes
// first; else the prebuilt one that the package carries for this platform
// (prebuilds/<platform>-<arch>/).
'use strict';
const fs = require('fs');
const path = require('path');

const built = path.join(__dirname, 'native', 'tvdcorelibinterface.node');
const prebuilt = path.join(__dirname, 'prebuilds', `${process.platform}-${process.arch}`, 'node.napi.glibc.node');

// Said only when no module loads, so the install script is read only then.
function howToBuild() {
  return `Build it with "${require('./scripts/install.js').buildCommand}" where the package is installed ` +
    '(or "npm run install" in its own folder); building needs CMake 3.25, a C++20 compiler and the ' +
    'expat, TinyXML and OpenSSL development files.';
}

function loadFrom(file, what) {
  try {
    return require(file);
  } catch (error) {
    throw new Error(`tvdcorelibinterface: the ${what} module ${file} does not load here ` +
      `(${error.message.split('\n')[0]}). ${howToBuild()}`);
  }
}

function load() {
  if (fs.existsSync(built)) return loadFrom(built, 'built');
  if (!fs.existsSync(prebuilt)) {
    throw new Error(`tvdcorelibinterface: the native module ${built} is missing, and there is no prebuilt one ` +
      `for ${process.platform}-${process.arch}. ${howToBuild()}`);
  }
  return loadFrom(prebuilt, 'prebuilt');
}

module.exports = load();
