import numpy as np
import pytest

import quarlen

IDENTITIES = 60


def features(person, noise=0.0, seed=0):
    """The face feature vector of a synthetic person, with optional noise."""
    v = np.random.default_rng(person).standard_normal(256)
    if noise:
        v = v + noise * np.random.default_rng(10_000 + seed).standard_normal(256) / 16.0
    return v


@pytest.fixture(scope="module")
def gallery(tmp_path_factory):
    """A face matcher of IDENTITIES persons (transaction person + 1): even persons in region 7,
    odd ones in region 3 with flags 5."""
    m = quarlen.open_example(tmp_path_factory.mktemp("gallery"), "face")
    for p in range(IDENTITIES):
        attributes = {"region": 7} if p % 2 == 0 else "region=3, flags=5"
        m.enrol(quarlen.face_record(p, p + 1, features(p)), attributes)
    return m
