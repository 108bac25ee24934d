"""Attention-style coupling modulation: plain loops with the math module
(bit for bit on small inputs, attention weights held whole per head) and a
NumPy transcription (einsum projections, masked softmax) as a tolerance
oracle and a benchmark reference."""
import math

import numpy as np


def allowed(knm, n, block, i, j):
    return j != i and not knm[i * n + j] == 0.0 and (block < 0 or abs(i - j) <= block)


def dot(a, b):
    s = 0.0
    for x, y in zip(a, b):
        s += x * y
    return s


def matmul_rows(rows, w, cols):
    """rows @ w, w row-major with `cols` columns; each sum in ascending r."""
    return [[dot(row, [w[r * cols + c] for r in range(len(row))]) for c in range(cols)] for row in rows]


def modulate(knm, theta, wq, wk, wv, wo, n, n_heads, block, temperature, lam):
    knm, theta = [float(x) for x in knm], [float(x) for x in theta]
    wq, wk, wv, wo = ([float(x) for x in w] for w in (wq, wk, wv, wo))
    if lam == 0.0:
        return knm
    d = int(math.floor(math.sqrt(len(wq) / n_heads / n_heads) + 0.5))
    width = n_heads * d
    x = [[0.0] * width for _ in range(n)]
    for i in range(n):
        for m in range(1, width // 2 + 1):
            x[i][2 * (m - 1)] = math.cos(float(m) * theta[i])
            x[i][2 * (m - 1) + 1] = math.sin(float(m) * theta[i])
    heads = [[matmul_rows(x, w[h * width * d:(h + 1) * width * d], d) for h in range(n_heads)] for w in (wq, wk, wv)]
    q, k, v = heads
    inv_scale = 1.0 / (temperature * math.sqrt(float(d))) if d else math.inf
    o = [[0.0] * width for _ in range(n)]
    for h in range(n_heads):
        a = [[0.0] * n for _ in range(n)]
        for i in range(n):
            keys = [j for j in range(n) if allowed(knm, n, block, i, j)]
            if not keys:
                continue
            score = [dot(q[h][i], k[h][j]) * inv_scale if j in keys else -math.inf for j in range(n)]
            top = -math.inf
            for s in score:
                if s > top:
                    top = s
            e = [math.exp(s - top) if math.isfinite(s) else 0.0 for s in score]
            total = 0.0
            for x_ in e:
                total += x_
            if total > 0.0:
                a[i] = [x_ * (1.0 / total) for x_ in e]
        for i in range(n):
            for c in range(d):
                o[i][h * d + c] = dot(a[i], [v[h][j][c] for j in range(n)])
    y = matmul_rows(o, wo, width)
    norm = [math.sqrt(dot(row, row)) + 1e-12 for row in y]
    mm = [[0.0] * n for _ in range(n)]
    for i in range(n):
        for j in range(n):
            s = (dot(y[i], y[j]) / (norm[i] * norm[j]) + 1.0) * 0.5 if allowed(knm, n, block, i, j) else 0.0
            mm[i][j] = (s * lam + 1.0) * knm[i * n + j]
    return [0.0 if i == j else (mm[i][j] + mm[j][i]) * 0.5 for i in range(n) for j in range(n)]


def modulate_numpy(knm, theta, wq, wk, wv, wo, n, n_heads, block, temperature, lam):
    k_mat = np.asarray(knm, dtype=float).reshape(n, n)
    if lam == 0.0:
        return k_mat.ravel().copy()
    d = int(round(math.sqrt(len(wq) / n_heads / n_heads)))
    width = n_heads * d
    x = np.zeros((n, width))
    m = np.arange(1, width // 2 + 1, dtype=float)
    x[:, 0:2 * len(m):2] = np.cos(np.outer(theta, m))
    x[:, 1:2 * len(m):2] = np.sin(np.outer(theta, m))
    shape = (n_heads, width, d)
    q, k, v = (np.einsum("ir,hrc->hic", x, np.reshape(w, shape)) for w in (wq, wk, wv))
    idx = np.arange(n)
    mask = (k_mat != 0.0) & (idx[:, None] != idx[None, :])
    if block >= 0:
        mask &= np.abs(idx[:, None] - idx[None, :]) <= block
    with np.errstate(all="ignore"):
        scores = np.where(mask, np.einsum("hic,hjc->hij", q, k) / (temperature * math.sqrt(d)), -np.inf)
        top = np.fmax.reduce(scores, axis=2, keepdims=True)
        e = np.where(np.isfinite(scores), np.exp(scores - np.where(np.isfinite(top), top, 0.0)), 0.0)
        total = e.sum(axis=2, keepdims=True)
        a = np.where(total > 0.0, e / np.where(total > 0.0, total, 1.0), 0.0)
        o = np.einsum("hij,hjc->ihc", a, v).reshape(n, width)
        y = o @ np.reshape(wo, (width, width))
        norm = np.sqrt((y * y).sum(axis=1)) + 1e-12
        s = np.where(mask, ((y @ y.T) / np.outer(norm, norm) + 1.0) * 0.5, 0.0)
        mm = (s * lam + 1.0) * k_mat
    out = (mm + mm.T) * 0.5
    np.fill_diagonal(out, 0.0)
    return out.ravel()
