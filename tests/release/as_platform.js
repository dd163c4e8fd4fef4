// as_platform.js, preloaded (node --require) into the npm package's command
// by npm_package_test.sh: process.platform and process.arch become what
// ZOBREL_AS_PLATFORM names ("linux arm64"), and a program the command starts
// runs through ZOBREL_AS_RUNNER when that is set (qemu-user, Wine), so that
// the packer it chose for that platform really runs.
'use strict';
const childProcess = require('child_process');

const [platform, arch] = process.env.ZOBREL_AS_PLATFORM.split(' ');
Object.defineProperty(process, 'platform', { value: platform });
Object.defineProperty(process, 'arch', { value: arch });
const runner = process.env.ZOBREL_AS_RUNNER;
if (runner) {
  const spawn = childProcess.spawn;
  childProcess.spawn = (file, args, options) => spawn(runner, [file, ...args], options);
}
