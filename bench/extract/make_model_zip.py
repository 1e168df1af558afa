#!/usr/bin/env python3
"""Writes a model-like zip archive for the extraction benchmark: a few large float32 weight
shards (~9 MB each) and a few hundred small JSON files, all deflated, about 40 MB in all.

Usage: make_model_zip.py OUT.zip
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


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    rnd = random.Random(20240601)
    with zipfile.ZipFile(sys.argv[1], "w", zipfile.ZIP_DEFLATED) as z:
        z.writestr("ver.ini", "[Config]\nVer=7\n")
        for model in ("face", "landmark", "pose", "gaze"):
            z.writestr(zipfile.ZipInfo(model + "/"), b"")
            z.writestr(model + "/group1-shard1of1.bin", shard(rnd, 2_600_000))
            manifest = {"format": "graph-model", "weightsManifest": [
                {"paths": ["group1-shard1of1.bin"],
                 "weights": [{"name": "w%d" % i, "shape": [3, 3, 32, 32], "dtype": "float32"}
                             for i in range(40)]}]}
            z.writestr(model + "/model.json", json.dumps(manifest, indent=1))
            for i in range(75):
                meta = {"layer": i, "model": model, "scale": rnd.random(),
                        "labels": ["label-%d-%d" % (i, j) for j in range(rnd.randint(20, 120))]}
                z.writestr("%s/meta/%03d.json" % (model, i), json.dumps(meta))


if __name__ == "__main__":
    main()
