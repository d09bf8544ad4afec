#!/usr/bin/env python3
"""Python's pickle on the structure bench/zelbin.cpp encodes with ZELBIN: 20,000 records
(dicts of an int, a str, a float, a list of str, a datetime, a Decimal and a bool) and a list
of 20,000 strings that a second list refers to again. Prints the CPU time of dumps and loads
(best of 5 runs of 5 each, in ms per call; the CPU column of bench_zelbin is the comparable
figure) and the size of the pickle, for protocols 4 and 5.

  python3 bench/zelbin_pickle.py
"""
import datetime
import decimal
import pickle
import time
import timeit


def build():
    records = []
    for i in range(1, 20001):
        records.append({
            "id": i,
            "name": "name-%d" % i,
            "score": i * 1.5,
            "tags": ["alpha", "beta", "gamma"],
            "created": datetime.datetime(2000, 1, 1, 10, 0),
            "price": decimal.Decimal("12.50"),
            "active": i % 2 == 1,
        })
    texts = ["text number %d" % i for i in range(1, 20001)]
    return [records, texts, [texts]]


def main():
    value = build()
    for protocol in (4, 5):
        data = pickle.dumps(value, protocol)
        dumps = min(timeit.repeat(lambda: pickle.dumps(value, protocol), number=5, repeat=5,
                                  timer=time.process_time)) / 5
        loads = min(timeit.repeat(lambda: pickle.loads(data), number=5, repeat=5,
                                  timer=time.process_time)) / 5
        print(f"pickle protocol {protocol}: dumps {dumps * 1000:.2f} ms,"
              f" loads {loads * 1000:.2f} ms, {len(data)} bytes")


if __name__ == "__main__":
    main()
