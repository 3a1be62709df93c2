"""Encode and decode the bundled sample table with tarnix and show each step."""

from pathlib import Path

import numpy as np
import pandas as pd

import tarnix

SAMPLE = Path(__file__).with_name("sample.csv")


def show(title, table):
    print(f"\n== {title} ==")
    print(table)


def code_mapping(original, encoded, columns):
    """The label -> code pairs of each encoded column, read off the two tables."""
    mapping = {}
    for col in columns:
        pairs = {}
        for label, code in zip(original[col], encoded[col]):
            if not pd.isna(code):
                pairs[label] = int(code)
        mapping[col] = dict(sorted(pairs.items(), key=lambda item: item[1]))
    return mapping


def frame_demo():
    frame = pd.read_csv(SAMPLE)
    show(f"sample table ({SAMPLE.name}, {frame.shape[0]} rows x {frame.shape[1]} columns)", frame)

    encoder = tarnix.Encoder()
    encoded = encoder.encode(frame)
    show("encoded: text columns became dense codes in byte order, missing labels NaN", encoded)

    text_columns = [c for c in frame.columns if not pd.api.types.is_numeric_dtype(frame[c])]
    print("\n== code mapping ==")
    for col, pairs in code_mapping(frame, encoded, text_columns).items():
        print(f"{col}: " + ", ".join(f"{label!r} -> {code}" for label, code in pairs.items()))

    decoded = encoder.decode(encoded)
    show("decoded: labels are back, missing labels as None", decoded)

    round_trip = all(
        [None if pd.isna(v) else v for v in frame[c]] == list(decoded[c]) for c in text_columns
    ) and all(np.array_equal(frame[c].to_numpy(float), decoded[c].to_numpy(float)) for c in frame.columns
              if c not in text_columns)
    print(f"\nround trip exact: {round_trip}")
    return round_trip


def array_demo():
    table = np.array(
        [["red", 1.5, "XL"], ["blue", 2.0, "S"], ["red", 3.25, "nan"], ["green", 4.0, "M"]],
        dtype=object,
    )
    show("NumPy object array", table)
    encoder = tarnix.Encoder("label")
    encoded = encoder.encode(table)
    show("encoded (float64)", encoded)
    decoded = encoder.decode(encoded)
    show("decoded (object array; a missing label comes back as 'NaN')", decoded)
    return decoded[0, 0] == "red" and decoded[2, 2] == "NaN"


def main():
    ok = frame_demo() and array_demo()
    raise SystemExit(0 if ok else 1)


if __name__ == "__main__":
    main()
