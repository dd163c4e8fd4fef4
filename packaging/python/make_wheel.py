#!/usr/bin/env python3
"""make_wheel.py: a wheel that installs one prebuilt program as a command.

    make_wheel.py --name NAME --version VERSION --summary TEXT
                  --platform TAG[.TAG...] --program FILE --command COMMAND OUT_DIR

The program goes into the wheel's scripts folder (NAME-VERSION.data/scripts),
which installers copy, executable, into the environment's bin or Scripts
folder: the command is the program itself, on Linux and on Windows alike,
with no Python process in between. The wheel is named
NAME-VERSION-py3-none-PLATFORM.whl, for any Python 3. The standard library
only; the same inputs always give the same bytes. Prints the wheel's path.
"""
import argparse
import base64
import hashlib
import os
import re
import sys
import zipfile

# Zip entries carry a fixed time (the earliest a zip can hold), so that a
# wheel depends only on what it holds.
FIXED_TIME = (1980, 1, 1, 0, 0, 0)


def record_hash(data):
    digest = hashlib.sha256(data).digest()
    return "sha256=" + base64.urlsafe_b64encode(digest).rstrip(b"=").decode("ascii")


def entry(path, mode):
    info = zipfile.ZipInfo(path, FIXED_TIME)
    info.create_system = 3  # Unix, so that installers read the mode below
    info.external_attr = (0o100000 | mode) << 16
    info.compress_type = zipfile.ZIP_DEFLATED
    return info


def make_wheel(name, version, summary, platform, program, command, out_dir):
    # Names in a wheel's file name and folders: runs of -_. become one _.
    dist = re.sub(r"[-_.]+", "_", name)
    tags = ["py3-none-" + tag for tag in platform.split(".")]
    metadata = (f"Metadata-Version: 2.1\nName: {name}\nVersion: {version}\nSummary: {summary}\n").encode()
    wheel = ("Wheel-Version: 1.0\nGenerator: zobrel-onefile make_wheel.py\nRoot-Is-Purelib: false\n"
             + "".join(f"Tag: {tag}\n" for tag in tags)).encode()
    with open(program, "rb") as f:
        binary = f.read()
    if program.lower().endswith(".exe"):
        command += ".exe"
    info_dir = f"{dist}-{version}.dist-info"
    files = [
        (f"{dist}-{version}.data/scripts/{command}", binary, 0o755),
        (f"{info_dir}/METADATA", metadata, 0o644),
        (f"{info_dir}/WHEEL", wheel, 0o644),
    ]
    record = "".join(f"{path},{record_hash(data)},{len(data)}\n" for path, data, _ in files)
    record += f"{info_dir}/RECORD,,\n"
    files.append((f"{info_dir}/RECORD", record.encode(), 0o644))

    out = os.path.join(out_dir, f"{dist}-{version}-py3-none-{platform}.whl")
    partial = out + ".partial"
    try:
        with zipfile.ZipFile(partial, "w") as whl:
            for path, data, mode in files:
                whl.writestr(entry(path, mode), data, compresslevel=9)
        os.replace(partial, out)
    finally:
        if os.path.exists(partial):
            os.remove(partial)
    return out


def main():
    parser = argparse.ArgumentParser(description="Makes a wheel that installs one prebuilt program as a command.")
    for option in ("name", "version", "summary", "platform", "program", "command"):
        parser.add_argument("--" + option, required=True)
    parser.add_argument("out_dir")
    args = parser.parse_args()
    try:
        print(make_wheel(args.name, args.version, args.summary, args.platform, args.program, args.command,
                         args.out_dir))
    except OSError as error:
        sys.exit(f"make_wheel: {error}")


if __name__ == "__main__":
    main()
