"""Parallel label encoding of the text columns of NumPy arrays and pandas DataFrames."""

from typing import Any, final, overload

import numpy
import pandas

__all__ = ["Encoder"]

@final
class Encoder:
    def __init__(self, encoding: str | None = None) -> None: ...
    @overload
    def encode(self, obj: pandas.DataFrame) -> pandas.DataFrame: ...
    @overload
    def encode(self, obj: numpy.ndarray[Any, Any]) -> numpy.ndarray[Any, numpy.dtype[numpy.float64]]: ...
    @overload
    def decode(self, obj: pandas.DataFrame) -> pandas.DataFrame: ...
    @overload
    def decode(self, obj: numpy.ndarray[Any, Any]) -> numpy.ndarray[Any, numpy.dtype[numpy.object_]]: ...
