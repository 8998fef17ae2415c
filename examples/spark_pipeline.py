"""Segment, train and encode a Chinese corpus with Apache Spark, one encoder per partition.

    pip install ".[spark]"
    python examples/spark_pipeline.py [--master local[2]] [--partitions 8] [--repeat 8] [--out DIR]
                                      [--replace] [--compare]

The steps, each on the executors unless said otherwise:
  1. split the corpus into partitions (the novel that ships with cppjieba, repeated --repeat times,
     sent from the driver; a corpus in shared storage would come from sc.textFile instead);
  2. segment each paragraph with one Jieba per executor process: the segmenter is broadcast, and a
     broadcast value is unpickled once per Python worker, not per task or record (a Jieba pickles
     as its five paths, so the data files must be at the same place on every machine);
  3. drop stop words, then train one BM25 per partition;
  4. merge the partitions' encoders in a tree (exact: the statistics are sums), the last merge on
     the driver, which writes the model file;
  5. broadcast the merged encoder and encode every paragraph;
  6. write the vectors as JSON lines, {"id": paragraph number, "vector": {word: weight}}.

The model and the vectors are exactly those of the same work done in one process; --compare does it
and says so, with the time of each. On a cluster, --out must be storage that the executors share.

--out is made ready before Spark starts: a missing directory is created, and one that already holds
a run's output (model.json, vectors/ or whole.json) is refused, so that a second run cannot leave
one run's model beside another's vectors. --replace deletes that output first instead. The vectors
are written before the model, so a model.json is only ever there beside its complete vectors/.
"""

import argparse
import json
import os
import pathlib
import shutil
import sys
import tempfile
import time

import cppjieba_data
import novel_data
from novel_data import add_cppjieba_option, keywords, load_segmenter, novel_paragraphs, positive_int
from pytarntext import BM25
OUTPUTS = ("model.json", "vectors", "whole.json")  # what a run writes under --out


def novel_corpus(cppjieba, repeat):
    """The novel's non-empty paragraphs, `repeat` times over."""
    return novel_paragraphs(cppjieba) * repeat


def train_partition(documents):
    """One encoder for a partition's (id, words) pairs; an empty partition gives an empty encoder."""
    model = BM25()
    for _, words in documents:
        if words:  # a paragraph of stop words only has nothing to count
            model.train(words)
    yield model


def prepare_out(out, replace=False):
    """Makes `out` ready for a run, before any work, so that a failure cannot mix two runs' output.

    Creates a missing directory. One that holds an earlier run's output is refused unless `replace`,
    which deletes that output now. Raises ValueError with a message naming the path.
    """
    path = pathlib.Path(out)
    if path.exists() and not path.is_dir():
        raise ValueError(f"--out {out} is not a directory")
    try:
        path.mkdir(parents=True, exist_ok=True)
    except OSError as error:
        raise ValueError(f"cannot create --out {out}: {error.strerror}") from None
    found = [name for name in OUTPUTS if (path / name).exists() or (path / name).is_symlink()]
    if found and not replace:
        raise ValueError(f"--out {out} already holds {', '.join(found)} from an earlier run: "
                         "pass --replace to delete them, or choose another directory")
    for name in found:
        target = path / name
        if target.is_dir() and not target.is_symlink():
            shutil.rmtree(target)
        else:
            target.unlink()


def merged(left, right):
    left.merge(right)
    return left


def run(spark, corpus, cppjieba, partitions, out):
    """The whole job: returns the merged encoder; writes out/model.json and out/vectors/."""
    sc = spark.sparkContext
    # The executors import by name the functions of modules that are not __main__, and what they
    # import in turn.
    sc.addPyFile(cppjieba_data.__file__)
    sc.addPyFile(novel_data.__file__)
    if __name__ != "__main__":
        sc.addPyFile(__file__)
    segmenter = sc.broadcast(load_segmenter(cppjieba))  # built here first: a bad data file fails now

    def segment(paragraphs):
        jieba, stop_words = segmenter.value  # this worker's one segmenter
        for i, text in paragraphs:
            yield i, keywords(jieba, stop_words, text)

    documents = sc.parallelize(list(enumerate(corpus)), partitions).mapPartitions(segment).cache()
    model = documents.mapPartitions(train_partition).treeReduce(merged)

    encoder = sc.broadcast(model)
    documents.map(lambda document: json.dumps(
        {"id": document[0], "vector": encoder.value.encode_document(document[1])}, ensure_ascii=False
    )).saveAsTextFile(os.path.join(out, "vectors"))
    model.dump(os.path.join(out, "model.json"))  # last: a model file means its vectors are complete
    for done in (documents, segmenter, encoder):
        done.unpersist()
    return model


def run_in_one_process(corpus, cppjieba):
    """The same work without Spark: returns the encoder and the vectors in corpus order."""
    jieba, stop_words = load_segmenter(cppjieba)
    documents = [keywords(jieba, stop_words, text) for text in corpus]
    model = BM25()
    for words in documents:
        if words:
            model.train(words)
    return model, [model.encode_document(words) for words in documents]


def read_vectors(out):
    """The job's vectors, in corpus order."""
    records = [json.loads(line) for part in sorted(pathlib.Path(out, "vectors").glob("part-*"))
               for line in part.read_text(encoding="utf-8").splitlines()]
    return [record["vector"] for record in sorted(records, key=lambda record: record["id"])]


def build_parser():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--master", default="local[2]", help="Spark master URL (default: local[2])")
    parser.add_argument("--partitions", type=positive_int, default=8)
    parser.add_argument("--repeat", type=positive_int, default=8, help="copies of the novel in the corpus")
    parser.add_argument("--out", default=None,
                        help="directory for model.json and vectors/, created if missing (default: a new one)")
    parser.add_argument("--replace", action="store_true",
                        help="delete an earlier run's output in --out instead of refusing it")
    parser.add_argument("--compare", action="store_true", help="also do the work in one process and compare")
    add_cppjieba_option(parser)
    return parser


def main(argv=None):
    parser = build_parser()
    args = parser.parse_args(argv)
    try:  # before anything is deleted: a run that cannot start must not cost the last one's output
        from pyspark.sql import SparkSession
    except ImportError:
        parser.error('PySpark is not installed: pip install ".[spark]"')
    out = args.out or tempfile.mkdtemp()
    try:
        prepare_out(out, args.replace)
    except ValueError as error:
        parser.error(str(error))

    # The Python workers must import pytarntext as this interpreter does; on a cluster, a
    # PYSPARK_PYTHON of the user's own names the executors' interpreter.
    if args.master.startswith("local"):
        os.environ["PYSPARK_PYTHON"] = sys.executable
    else:
        os.environ.setdefault("PYSPARK_PYTHON", sys.executable)

    corpus = novel_corpus(args.cppjieba, args.repeat)
    start = time.perf_counter()
    spark = SparkSession.builder.master(args.master).appName("pytarntext BM25").getOrCreate()
    started = time.perf_counter()
    run(spark, corpus, args.cppjieba, args.partitions, out)
    done = time.perf_counter()
    spark.stop()
    print(f"{len(corpus):,} paragraphs in {args.partitions} partitions on {args.master}: "
          f"model {out}/model.json, vectors {out}/vectors/")
    print(f"Spark: start {started - start:.2f}s, job {done - started:.2f}s")

    if args.compare:
        start = time.perf_counter()
        whole, vectors = run_in_one_process(corpus, args.cppjieba)
        print(f"one process: {time.perf_counter() - start:.2f}s")
        whole.dump(os.path.join(out, "whole.json"))
        same = (pathlib.Path(out, "model.json").read_bytes() == pathlib.Path(out, "whole.json").read_bytes()
                and read_vectors(out) == vectors)
        print("model and vectors " + ("identical to" if same else "DIFFERENT from") + " the one-process run")
        return 0 if same else 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
