"""Quarlen: biometric identity records, 1:N identification and 1:1 verification.

The compiled part (quarlen._quarlen) holds IdRecord, Matcher, QueryText, Candidate, Block,
Error, face_record and score; this file adds the example configuration and the numpy form of
result lists.
"""

import os
import re
import shutil
from pathlib import Path

import numpy as np

from ._quarlen import (Block, Candidate, Error, IdRecord, Matcher, QueryText, __version__,
                       face_record, score)

__all__ = ["Block", "Candidate", "Error", "IdRecord", "Matcher", "QueryText", "face_record",
           "score", "example_config", "open_example", "results_array", "MODALITIES"]

# The storage and pipeline of the example configuration that serve each modality.
MODALITIES = {"face": ("face", "face"), "iris": ("iris", "iris"),
              "finger": ("finger", "fourFinger")}


def _data_dirs():
    if os.environ.get("QUARLEN_DATA_DIR"):
        yield Path(os.environ["QUARLEN_DATA_DIR"])
    yield Path(__file__).parent / "data"
    try:
        from ._paths import DATA_DIRS, DATA_DIRS_RELATIVE
        yield from (Path(d) for d in DATA_DIRS)
        yield from (Path(__file__).parent / d for d in DATA_DIRS_RELATIVE)
    except ImportError:
        pass


def example_config(work_dir, source=None):
    """Fills the example configuration into work_dir/config (galleries in work_dir/galleries)
    and returns the path of its system configuration file. source: another configuration
    folder written with the placeholders @CONFIG_DIR@ and @GALLERY_DIR@."""
    if source is None:
        source = next((d / "config" for d in _data_dirs() if (d / "config" / "quarlen.ini").exists()),
                      None)
        if source is None:
            raise FileNotFoundError("no example configuration found (set QUARLEN_DATA_DIR)")
    source = Path(source)
    work = Path(work_dir).absolute()
    config, galleries = work / "config", work / "galleries"
    config.mkdir(parents=True, exist_ok=True)
    galleries.mkdir(parents=True, exist_ok=True)
    for f in source.iterdir():
        if f.is_file():
            text = f.read_text().replace("@CONFIG_DIR@", str(config))
            (config / f.name).write_text(text.replace("@GALLERY_DIR@", str(galleries)))
    curves = source.parent / "scoremapping"
    if curves.is_dir():
        for f in curves.iterdir():
            if f.is_file():
                shutil.copyfile(f, config / f.name)
    return str(config / "quarlen.ini")


def open_example(work_dir, modality="face", recover=True):
    """A Matcher on the example configuration filled into work_dir (see example_config) for
    one modality: "face", "iris" or "finger". The gallery of an earlier run is reopened."""
    storage, pipeline = MODALITIES[modality]
    return Matcher(example_config(work_dir), storage, pipeline, recover)


def results_array(candidates):
    """A structured numpy array of candidates: person, transaction, score, and one float
    column per algorithm that scored (its best block score; NaN where it did not)."""
    algorithms = sorted({b.algorithm for c in candidates for b in c.blocks})
    names = [re.sub(r"\W", "_", a) for a in algorithms]
    dtype = [("person", "u8"), ("transaction", "u8"), ("score", "f4")] + [(n, "f4") for n in names]
    out = np.zeros(len(candidates), dtype=dtype)
    for i, c in enumerate(candidates):
        out[i]["person"], out[i]["transaction"], out[i]["score"] = c.person, c.transaction, c.score
        for n in names:
            out[i][n] = np.nan
        for b in c.blocks:
            n = names[algorithms.index(b.algorithm)]
            if np.isnan(out[i][n]) or b.score > out[i][n]:
                out[i][n] = b.score
    return out
