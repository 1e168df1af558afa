#!/usr/bin/env python3
"""Writes a zip archive for the extraction benchmarks, all entries deflated.

Usage: make_model_zip.py OUT.zip            model-like: four 6 MiB float32 weight shards and
                                            300 small JSON files (about 27 MB unpacked)
       make_model_zip.py --small N OUT.zip  N small JSON files (100 to 1,500 bytes) in 30 folders
       --seed S (first)                     the same names with other contents (an update
                                            that changes every file)
"""
import array
import json
import random
import sys
import zipfile


def shard(rnd, count):
    # Weights of a trained network: small values, random mantissas (deflate gains little).
    values = array.array("I")
    for _ in range(count):
        bits = rnd.getrandbits(32)
        exponent = 0x3B + (bits & 3)  # magnitudes around 0.004 to 0.06
        values.append((bits & 0x80000000) | (exponent << 23) | (bits >> 9) & 0x7FFFFF)
    return values.tobytes()


def model_like(z, rnd):
    z.writestr("ver.ini", "[Config]\nVer=7\n")
    for model in ("face", "landmark", "pose", "gaze"):
        z.writestr(zipfile.ZipInfo(model + "/"), b"")
        z.writestr(model + "/group1-shard1of1.bin", shard(rnd, 6 * 1024 * 1024 // 4))
        manifest = {"format": "graph-model", "weightsManifest": [
            {"paths": ["group1-shard1of1.bin"],
             "weights": [{"name": "w%d" % i, "shape": [3, 3, 32, 32], "dtype": "float32"}
                         for i in range(40)]}]}
        z.writestr(model + "/model.json", json.dumps(manifest, indent=1))
        for i in range(74):
            meta = {"layer": i, "model": model, "scale": rnd.random(),
                    "labels": ["label-%d-%d" % (i, j) for j in range(rnd.randint(20, 120))]}
            z.writestr("%s/meta/%03d.json" % (model, i), json.dumps(meta))


def small_files(z, rnd, count):
    z.writestr("ver.ini", "[Config]\nVer=7\n")
    for i in range(count - 1):
        meta = {"id": i, "labels": ["l%d" % rnd.randint(0, 999) for _ in range(rnd.randint(10, 200))]}
        z.writestr("small/g%02d/%04d.json" % (i % 30, i), json.dumps(meta))


def main():
    args = sys.argv[1:]
    seed = 20240601
    if len(args) >= 2 and args[0] == "--seed":
        seed = int(args[1])
        args = args[2:]
    small = None
    if len(args) == 3 and args[0] == "--small":
        small = int(args[1])
        args = args[2:]
    if len(args) != 1:
        sys.exit(__doc__)
    rnd = random.Random(seed)
    with zipfile.ZipFile(args[0], "w", zipfile.ZIP_DEFLATED) as z:
        if small:
            small_files(z, rnd, small)
        else:
            model_like(z, rnd)


if __name__ == "__main__":
    main()
