#!/usr/bin/env node
// zobrel-pack.js: the npm package's command. It runs the zobrel-pack built
// for this platform, which the package carries, with this command's
// arguments and standard handles, and ends as it ended: with its exit code,
// or by the signal that ended it.
'use strict';

const childProcess = require('child_process');
const os = require('os');
const path = require('path');

// Platform and processor (as Node.js names them) to the packer for them.
// Windows on ARM64 gets the x64 packer, which Windows 11 runs emulated.
const PACKERS = {
  'linux x64': 'linux-x64/zobrel-pack',
  'linux arm64': 'linux-arm64/zobrel-pack',
  'win32 x64': 'win32-x64/zobrel-pack.exe',
  'win32 arm64': 'win32-x64/zobrel-pack.exe',
};
const SUPPORTED = 'Linux x64, Linux arm64 and Windows x64 (and Windows 11 on ARM64, emulated)';

function main() {
  const platform = `${process.platform} ${process.arch}`;
  const packer = PACKERS[platform];
  if (!packer) {
    process.stderr.write(`zobrel-pack: no packer for ${platform} in this package; it runs on ${SUPPORTED}\n`);
    process.exit(2);
  }
  run(path.join(__dirname, '..', 'packers', packer), process.argv.slice(2));
}

function run(file, args) {
  const child = childProcess.spawn(file, args, { stdio: 'inherit' });
  // On Windows, Ctrl+C, Ctrl+Break and a console's close reach the packer
  // through the console it shares: this process only has to outlive it. A
  // POSIX signal reaches only the process it was sent to, so it is passed on
  // (the packer stops at its next check and removes what it started).
  const passOn = process.platform === 'win32' ? [] : ['SIGINT', 'SIGTERM', 'SIGHUP', 'SIGQUIT'];
  const stay = process.platform === 'win32' ? ['SIGINT', 'SIGBREAK', 'SIGHUP'] : [];
  const handlers = {};
  for (const signal of passOn) handlers[signal] = () => child.kill(signal);
  for (const signal of stay) handlers[signal] = () => {};
  for (const signal of Object.keys(handlers)) process.on(signal, handlers[signal]);

  child.on('error', (error) => {
    // Only a packer that could not be started ends up here.
    process.stderr.write(`zobrel-pack: cannot run ${file}: ${error.message}\n`);
    process.exit(1);
  });
  child.on('exit', (code, signal) => {
    for (const name of Object.keys(handlers)) process.removeListener(name, handlers[name]);
    if (signal) {
      // End the same way, so that whoever started this command sees the
      // signal; should it not end this process, the shell's number for it.
      process.kill(process.pid, signal);
      process.exit(128 + (os.constants.signals[signal] || 0));
    }
    process.exit(code);
  });
}

main();
