"""Train BM25 on a corpus too large for one machine: one encoder per shard, in parallel, then merge.

    python examples/shard_train.py [--shards 4] [--workers 2] [--out DIR]

BM25's statistics are sums (documents, tokens, and per token its occurrences), so shards can be
counted apart and added up: this is a map (train_shard, one model file per shard) and a reduce
(merge_model_files). Here the map runs in worker processes on this machine; on Spark, Ray or Dask the
same two functions run as the map and the reduce steps.
"""

import argparse
import json
import multiprocessing
import os
import pathlib
import tempfile

from pytarntext import BM25

try:
    from tqdm import tqdm
except ImportError:  # progress bars are a nicety: pip install tqdm

    def tqdm(iterable, **_):
        return iterable


def train_shard(job):
    """Map: train one encoder on one shard's tokenised documents and write its model file."""
    documents, path, b, k1 = job
    model = BM25(b, k1)
    for document in documents:
        model.train(document)
    model.dump(path)
    return path


def read_model_file(path):
    """A model file as a dict. Tokens that are not UTF-8 come back through surrogate escapes."""
    text = pathlib.Path(path).read_bytes().decode("utf-8", "surrogateescape")
    return json.loads(text, strict=False)  # raw control bytes stay raw in model files


def escape_key(token):
    """A token as the model file writes it: exactly seven bytes escaped, the rest as they are."""
    for byte, escape in [("\\", "\\\\"), ('"', '\\"'), ("\b", "\\b"), ("\t", "\\t"), ("\n", "\\n"),
                         ("\f", "\\f"), ("\r", "\\r")]:
        token = token.replace(byte, escape)
    return token


def merge_model_files(paths):
    """Reduce: the model text of the whole corpus, from the model files of its shards.

    Counts and document totals add up; each shard's length total is its average times its count
    (exact while a shard holds fewer than a million documents: averages carry six decimals), and the
    merged average is the grand total over the grand count.
    """
    models = [read_model_file(path) for path in paths]
    counts, documents, length_total = {}, 0, 0
    for model in models:
        for token, count in model["_doc_token_frequency"].items():
            counts[token] = counts.get(token, 0) + count
        documents += model["_doc_count"]
        length_total += round(model["_doc_length_average"] * model["_doc_count"])
    average = length_total / documents if documents else 0.0
    entries = ",".join(f'"{escape_key(token)}": {count}' for token, count in counts.items())
    text = (
        f'{{"_b": {float(models[0]["_b"])!r}, "_k1": {float(models[0]["_k1"])!r}, '
        f'"_doc_count": {documents}, "_doc_length_average": {float(average)!r}, '
        f'"_doc_token_frequency": {{{entries}}}}}'
    )
    return text.encode("utf-8", "surrogateescape")


def train_sharded(documents, shards, workers, directory, b=0.75, k1=1.2):
    """Trains one model per shard in `workers` processes and returns the merged encoder."""
    jobs = [(documents[i::shards], os.path.join(directory, f"shard-{i}.json"), b, k1) for i in range(shards)]
    with multiprocessing.get_context("spawn").Pool(workers) as pool:
        paths = list(tqdm(pool.imap(train_shard, jobs), total=shards, desc="shards", unit="shard", disable=None))
    merged = BM25(b, k1)
    merged.load(merge_model_files(paths))
    return merged


def novel_documents():
    """The paragraphs of the novel that ships with cppjieba, segmented for search."""
    sys_path = pathlib.Path(__file__).resolve().parents[1]
    cppjieba = pathlib.Path(
        os.environ.get("PYTARNTEXT_CPPJIEBA_DIR") or sys_path / ".cache/nodejieba-3.5.8/package/submodules/cppjieba"
    )
    from pytarntext import Jieba

    d = cppjieba / "dict"
    jieba = Jieba(str(d / "jieba.dict.utf8"), str(d / "hmm_model.utf8"), "", str(d / "idf.utf8"),
                  str(d / "stop_words.utf8"))
    text = (cppjieba / "test/testdata/weicheng.utf8").read_text(encoding="utf-8")
    paragraphs = [line for line in text.splitlines() if line.strip()]
    return [jieba.cut_for_search(p) for p in tqdm(paragraphs, desc="segment", unit="paragraph", disable=None)]


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--shards", type=int, default=4)
    parser.add_argument("--workers", type=int, default=2)
    parser.add_argument("--out", default=tempfile.mkdtemp())
    args = parser.parse_args()

    documents = novel_documents()
    merged = train_sharded(documents, args.shards, args.workers, args.out)
    merged.dump(os.path.join(args.out, "merged.json"))

    whole = BM25()
    for document in documents:
        whole.train(document)
    whole.dump(os.path.join(args.out, "whole.json"))
    same = pathlib.Path(args.out, "merged.json").read_bytes() == pathlib.Path(args.out, "whole.json").read_bytes()
    print(f"{args.shards} shards merged into {args.out}/merged.json; "
          f"{'identical to' if same else 'DIFFERENT from'} the model trained on the whole corpus")


if __name__ == "__main__":
    main()
