from typing import Sequence

import numpy as np

def merge_runs(runs: Sequence[np.ndarray], counts: Sequence[np.ndarray] | None) -> tuple[np.ndarray, np.ndarray | None]: ...
