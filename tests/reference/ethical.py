"""The ethical cost with plain loops and the math module, its classical
Jacobi iteration included, for bit-for-bit comparison on small inputs."""
import math


def fiedler_inline(knm, n):
    if n < 2:
        return 0.0
    a = [[-abs(knm[i * n + j]) for j in range(n)] for i in range(n)]
    for i in range(n):
        s = 0.0
        for j in range(n):
            s += abs(knm[i * n + j])
        a[i][i] = s
    for _ in range(100 * n * n):
        p, q, best = 0, 1, 0.0
        for i in range(n):
            for j in range(i + 1, n):
                if abs(a[i][j]) > best:
                    p, q, best = i, j, abs(a[i][j])
        if best < 1e-12:
            break
        apq = a[p][q]
        theta = (a[q][q] - a[p][p]) / (2.0 * apq)
        root = math.sqrt(theta * theta + 1.0)
        t = 1.0 / (theta + root) if theta >= 0.0 else -1.0 / (root - theta)
        a[p][p] -= t * apq
        a[q][q] += t * apq
        a[p][q] = a[q][p] = 0.0
        c = 1.0 / math.sqrt(t * t + 1.0)
        s = t * c
        for r in range(n):
            if r not in (p, q):
                arp, arq = a[r][p], a[r][q]
                a[r][p] = a[p][r] = c * arp - s * arq
                a[r][q] = a[q][r] = s * arp + c * arq
    diag = sorted(a[i][i] for i in range(n))  # finite input only
    return diag[1] if diag[1] > 0.0 else 0.0


def cost(phases, knm, n, alpha_r, beta_k, gamma_q, nu_s, kappa, r_min, connectivity_min, max_coupling):
    if n == 0:
        return 0.0, 0.0, 1.0, 0
    phases, knm = [float(x) for x in phases], [float(x) for x in knm]
    s = c = 0.0
    for x in phases:
        s += math.sin(x)
        c += math.cos(x)
    r = math.sqrt(c * c + s * s) / n
    lambda2 = fiedler_inline(knm, n)
    total = 0.0
    for x in phases:
        total += x
    mean = total / n
    sq = 0.0
    for x in phases:
        sq += (x - mean) * (x - mean)
    sigma = math.sqrt(sq / n)
    rho = 0.0 if n == 1 else sum(1 for k in knm if abs(k) > 1e-15) / float(n * (n - 1))
    j_score = alpha_r * r + beta_k * (lambda2 / n) + gamma_q * rho + nu_s * (sigma / -math.pi)
    positive = [k for k in knm if k > 0.0]
    v_k = max(k for k in knm if not math.isnan(k)) - max_coupling if positive else 0.0
    vs = [connectivity_min - lambda2, r_min - r, v_k]
    pos = [v if v > 0.0 else 0.0 for v in vs]
    penalty = kappa * ((pos[0] ** 2 + pos[1] ** 2) + pos[2] ** 2)
    return j_score, penalty, (1.0 - j_score) + penalty, sum(1 for v in vs if v > 0.0)
