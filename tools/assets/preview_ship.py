#!/usr/bin/env python3
"""Renders a shaded, textured preview of the generated ship to a PNG.

usage: preview_ship.py data_folder out.png [yaw pitch]
The mesh is first posed as the demo poses it (half a turn about z, a quarter
turn about y: nose away from the viewer), then turned for a three-quarter view.
"""
import math
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from bmp2png import read_bmp, write_png  # noqa: E402

W, H = 480, 320


def rot(axis, deg):
    c, s = math.cos(math.radians(deg)), math.sin(math.radians(deg))
    x, y, z = axis
    return [[c + x * x * (1 - c), x * y * (1 - c) - z * s, x * z * (1 - c) + y * s],
            [y * x * (1 - c) + z * s, c + y * y * (1 - c), y * z * (1 - c) - x * s],
            [z * x * (1 - c) - y * s, z * y * (1 - c) + x * s, c + z * z * (1 - c)]]


def mul(a, b):
    return [[sum(a[i][k] * b[k][j] for k in range(3)) for j in range(3)] for i in range(3)]


def apply(m, v):
    return [sum(m[i][k] * v[k] for k in range(3)) for i in range(3)]


def main(folder, out, yaw=140.0, pitch=28.0):
    pos, uv, nrm, faces = [], [], [], []
    for line in open(os.path.join(folder, 'zazozodoze_tex.obj')):
        p = line.split()
        if not p:
            continue
        if p[0] == 'v':
            pos.append([float(x) for x in p[1:4]])
        elif p[0] == 'vt':
            uv.append([float(x) for x in p[1:3]])
        elif p[0] == 'vn':
            nrm.append([float(x) for x in p[1:4]])
        elif p[0] == 'f':
            faces.append([[int(i) - 1 for i in c.split('/')] for c in p[1:4]])
    tw, th, trows = read_bmp(os.path.join(folder, 'images', 'zazozodoze.bmp'))
    # demo pose, then the viewing turn
    pose = mul(rot((0, 1, 0), 90), rot((0, 0, 1), 180))
    view = mul(rot((1, 0, 0), pitch), rot((0, 1, 0), yaw))
    m = mul(view, pose)
    light = [0.4, 0.7, 0.6]
    ln = math.sqrt(sum(x * x for x in light))
    light = [x / ln for x in light]
    P = [apply(m, p) for p in pos]
    N = [apply(m, n) for n in nrm]
    scale, dist = 150.0, 6.0
    def project(p):
        f = dist / (dist - p[2])
        return (W / 2 + p[0] * scale * f, H / 2 - p[1] * scale * f, p[2])
    S = [project(p) for p in P]
    zbuf = [[-1e9] * W for _ in range(H)]
    img = [[(int(12 + 20 * y / H), int(14 + 18 * y / H), int(30 + 30 * y / H)) for _ in range(W)] for y in range(H)]
    for f in faces:
        (a, ta, na), (b, tb, nb), (c, tc, nc) = f
        x0, y0, z0 = S[a]
        x1, y1, z1 = S[b]
        x2, y2, z2 = S[c]
        area = (x1 - x0) * (y2 - y0) - (x2 - x0) * (y1 - y0)
        if abs(area) < 1e-9:
            continue
        minx, maxx = max(int(min(x0, x1, x2)), 0), min(int(max(x0, x1, x2)) + 1, W - 1)
        miny, maxy = max(int(min(y0, y1, y2)), 0), min(int(max(y0, y1, y2)) + 1, H - 1)
        for py in range(miny, maxy + 1):
            for px in range(minx, maxx + 1):
                sx, sy = px + 0.5, py + 0.5
                w0 = ((x1 - sx) * (y2 - sy) - (x2 - sx) * (y1 - sy)) / area
                w1 = ((x2 - sx) * (y0 - sy) - (x0 - sx) * (y2 - sy)) / area
                w2 = 1 - w0 - w1
                if w0 < 0 or w1 < 0 or w2 < 0:
                    continue
                z = w0 * z0 + w1 * z1 + w2 * z2
                if z <= zbuf[py][px]:
                    continue
                zbuf[py][px] = z
                u = w0 * uv[ta][0] + w1 * uv[tb][0] + w2 * uv[tc][0]
                v = w0 * uv[ta][1] + w1 * uv[tb][1] + w2 * uv[tc][1]
                n = [w0 * N[na][i] + w1 * N[nb][i] + w2 * N[nc][i] for i in range(3)]
                nl = math.sqrt(sum(x * x for x in n)) or 1
                d = max(0.0, sum(n[i] * light[i] for i in range(3)) / nl)
                shade = 0.3 + 0.85 * d
                tx = min(tw - 1, max(0, int(u * tw)))
                ty = min(th - 1, max(0, int((1 - v) * th)))
                r, g, bl = trows[ty][tx * 3:tx * 3 + 3]
                img[py][px] = (min(255, int(r * shade)), min(255, int(g * shade)), min(255, int(bl * shade)))
    write_png(out, W, H, [bytes(c for p in row for c in p) for row in img])


if __name__ == '__main__':
    main(sys.argv[1], sys.argv[2], *[float(a) for a in sys.argv[3:5]])
