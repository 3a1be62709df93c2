"""A fitted label encoder for scikit-learn pipelines, built on tarnix."""

__all__ = ["TextColumnEncoder"]
