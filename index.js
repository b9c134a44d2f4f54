// The debugger core as a Node module: the 17 functions of the native add-on
// that the install script built into native/ beside this file.
'use strict';
const fs = require('node:fs');
const path = require('node:path');

const modulePath = path.join(__dirname, 'native', 'tvdcorelibinterface.node');

if (!fs.existsSync(modulePath)) {
  throw new Error(`tvdcorelibinterface: the native module ${modulePath} is missing. ` +
    'Build it with "npm rebuild tvdcorelibinterface" where the package is installed ' +
    '(or "npm run install" in its own folder); building needs CMake 3.25, a C++20 compiler ' +
    'and the expat, TinyXML and OpenSSL development files.');
}

module.exports = require(modulePath);
