// The package as a front end takes it: packed, installed from the tarball
// into a fresh folder (which builds the module), loaded by name, its types
// checked against a small front end.
'use strict';
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { spawnSync } = require('node:child_process');

const repo = path.resolve(__dirname, '..', '..', '..', '..');
const root = fs.mkdtempSync(path.join(os.tmpdir(), 'tvd-package-'));
const consumer = path.join(root, 'frontend');
const installed = path.join(consumer, 'node_modules', 'tvdcorelibinterface');
process.on('exit', () => fs.rmSync(root, { recursive: true, force: true }));

function run(command, args, options = {}) {
  const out = spawnSync(command, args, { encoding: 'utf8', maxBuffer: 64 << 20, ...options });
  assert.equal(out.status, 0, `${command} ${args.join(' ')}\n${out.stdout}\n${out.stderr}`);
  return out.stdout;
}

// Every file below folder, with its path relative to it.
function filesBelow(folder) {
  return fs.readdirSync(folder, { recursive: true })
    .filter((name) => fs.statSync(path.join(folder, name)).isFile());
}

let tarball;
test('npm pack takes what building and loading need, and no tests', () => {
  const [packed] = JSON.parse(run('npm', ['pack', '--json', '--pack-destination', root], { cwd: repo }));
  tarball = path.join(root, packed.filename);
  const files = packed.files.map((f) => f.path);
  for (const needed of ['package.json', 'index.js', 'index.d.ts', 'scripts/install.js', 'CMakeLists.txt',
    'modules/node-addon/source/TVDCoreLibInterface.cpp'])
    assert.ok(files.includes(needed), needed);
  assert.deepEqual(files.filter((f) => /(^|\/)(tests|bench|tools|build[^/]*|node_modules|native)\//.test(f)), []);
});

test('npm install of the tarball in a fresh folder builds the module', () => {
  fs.mkdirSync(consumer);
  fs.writeFileSync(path.join(consumer, 'package.json'), '{ "name": "frontend", "private": true }\n');
  // Paths below the folder reach the compiler cache as relative ones, so
  // a later run in another temporary folder finds its objects there.
  const env = { ...process.env, CCACHE_BASEDIR: consumer };
  run('npm', ['install', '--no-audit', '--no-fund', '--prefer-offline', tarball], { cwd: consumer, env });
  assert.ok(fs.existsSync(path.join(installed, 'native', 'tvdcorelibinterface.node')));
  assert.ok(!fs.existsSync(path.join(installed, 'build-native')), 'the build folder stays behind');
});

test('no path of the build machine is baked into the installed package', () => {
  const paths = [repo, consumer, root].map((p) => Buffer.from(p));
  for (const name of filesBelow(installed)) {
    const bytes = fs.readFileSync(path.join(installed, name));
    for (const p of paths) assert.equal(bytes.indexOf(p), -1, `${name} holds ${p}`);
  }
});

test('require by name gives the 17 functions, and a session starts and ends', () => {
  const home = path.join(root, 'home');
  for (const dir of ['home', 'run', 'config']) fs.mkdirSync(path.join(root, dir), { mode: 0o700 });
  const products = path.join(root, 'installed-products.xml');
  fs.writeFileSync(products, '<?xml version="1.0" encoding="UTF-8"?>\n<InstalledProducts>\n</InstalledProducts>\n');
  fs.copyFileSync(path.join(__dirname, 'check.js'), path.join(consumer, 'check.js'));
  const env = { ...process.env, HOME: home, XDG_RUNTIME_DIR: path.join(root, 'run'),
    XDG_CONFIG_HOME: path.join(root, 'config'), MORVANE_INSTALLED_PRODUCTS: products };
  assert.match(run(process.execPath, ['check.js'], { cwd: consumer, env }), /loaded by name/);
});

test('the types check a front end written against them', () => {
  fs.copyFileSync(path.join(__dirname, 'frontend.ts'), path.join(consumer, 'frontend.ts'));
  const tsc = path.join(repo, 'node_modules', 'typescript', 'bin', 'tsc');
  run(process.execPath, [tsc, '--noEmit', '--strict', '--target', 'es2020', '--module', 'commonjs',
    'frontend.ts'], { cwd: consumer });
});

test('without the built module one error says what is missing and how to build it', () => {
  const built = path.join(installed, 'native', 'tvdcorelibinterface.node');
  fs.renameSync(built, built + '.away');
  try {
    const out = spawnSync(process.execPath, ['-e', 'require("tvdcorelibinterface")'], { cwd: consumer,
      encoding: 'utf8' });
    assert.notEqual(out.status, 0);
    assert.match(out.stderr, /Error: tvdcorelibinterface: the native module \S+ is missing\. Build it with "npm rebuild tvdcorelibinterface"/);
  } finally {
    fs.renameSync(built + '.away', built);
  }
});
