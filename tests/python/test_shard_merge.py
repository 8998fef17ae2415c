import random
import sys

from pytarntext import BM25

from conftest import ROOT

sys.path.insert(0, str(ROOT / "examples"))
from shard_train import train_sharded  # noqa: E402


def test_merged_shards_equal_the_model_of_the_whole_corpus(tmp_path):
    rng = random.Random(3)
    vocabulary = ["北京", "大学", 'q"uote', "back\\slash", "tab\there", "\x01", "é", "7", "\\u0041"]
    documents = [[rng.choice(vocabulary) for _ in range(rng.randint(1, 30))] for _ in range(200)]
    documents += [[b"\xff\xfe", b"raw"], [7, -(2**63), 2**63 - 1]]
    merged = train_sharded(documents, shards=5, workers=2, directory=str(tmp_path), b=0.5, k1=1.5)
    whole = BM25(0.5, 1.5)
    for document in documents:
        whole.train(document)
    merged.dump(str(tmp_path / "merged.json"))
    whole.dump(str(tmp_path / "whole.json"))
    assert (tmp_path / "merged.json").read_bytes() == (tmp_path / "whole.json").read_bytes()
    # Training goes on from the merged corpus as from the whole one.
    for model in (merged, whole):
        model.train(["北京"] * 11)
    query = ["北京", "大学", "tab\there", "missing"]
    assert merged.encode_document(query) == whole.encode_document(query)
    assert merged.encode_query(query) == whole.encode_query(query)
