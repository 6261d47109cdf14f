#!/usr/bin/env python3
"""Reads what `mutantes.py --matriz` wrote (per change, the tests that failed on
it) and says which tests the lists need:

    python3 tools/matriz.py MATRIZ.jsonl [--por-mudanca K]

- the tests that are some change's only catcher;
- a small set of tests that still notices every noticed change at least K
  times (or as often as it was noticed, when less), chosen greedily by
  changes caught per line;
- the tests outside that set, with their lines (the comment above a test
  counts as its own), by file.

A test outside the set notices no listed change that the set misses; it may
still be the only check of a behaviour no list names, so read it before
removing it. Only the changes in the matrix count: run every list first.
"""
import argparse
import collections
import glob
import json
import os
import re
import sys

RAIZ = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def nome_do_teste(nome):
    """Suite.Test, without the instance prefix or parameter of a
    parameterised test."""
    nome = nome.split("  #")[0]
    partes = nome.split("/")
    if len(partes) > 1 and "." not in partes[0]:
        partes = partes[1:]
    return partes[0]


def testes_das_fontes():
    """Suite.Test -> (file, lines) for every TEST, TEST_F and TEST_P."""
    testes = {}
    for arquivo in glob.glob(os.path.join(RAIZ, "**", "*_test.cpp"), recursive=True):
        linhas = open(arquivo, encoding="utf-8", errors="replace").read().split("\n")
        i = 0
        while i < len(linhas):
            m = re.match(r"TEST(?:_F|_P)?\((\w+),\s*(\w+)\)", linhas[i])
            if m:
                inicio = i
                while inicio > 0 and linhas[inicio - 1].startswith("//"):
                    inicio -= 1
                fim = i
                while fim < len(linhas) and linhas[fim] != "}":
                    fim += 1
                testes[f"{m.group(1)}.{m.group(2)}"] = (os.path.relpath(arquivo, RAIZ), fim - inicio + 1)
                i = fim
            i += 1
    return testes


def cobertura(mudancas, k, linhas):
    """The only catchers, then greedily the test that adds most wanted
    catches per line, until every change has min(k, its catchers)."""
    pega = collections.defaultdict(set)
    for i, testes in enumerate(mudancas):
        for t in testes:
            pega[t].add(i)
    escolhidos = {next(iter(ts)) for ts in mudancas if len(ts) == 1}
    falta = [min(k, len(ts)) - len(ts & escolhidos) for ts in mudancas]
    while any(f > 0 for f in falta):
        candidatos = [t for t in pega if t not in escolhidos and any(falta[i] > 0 for i in pega[t])]
        t = max(candidatos, key=lambda t: (sum(falta[i] > 0 for i in pega[t]) / max(1, linhas(t)), t))
        escolhidos.add(t)
        for i in pega[t]:
            falta[i] -= 1
    return escolhidos


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("matriz", nargs="+")
    ap.add_argument("--por-mudanca", type=int, default=1, metavar="K")
    a = ap.parse_args()

    mudancas, sem_nome = [], 0
    for caminho in a.matriz:
        for linha in open(caminho, encoding="utf-8"):
            e = json.loads(linha)
            if e["estado"] != "falhou":
                continue
            testes = {nome_do_teste(t) for t in e["falharam"]}
            if testes:
                mudancas.append(testes)
            else:
                sem_nome += 1
    testes = testes_das_fontes()
    escolhidos = cobertura(mudancas, a.por_mudanca, lambda t: testes.get(t, ("", 1))[1])
    sos = collections.Counter(next(iter(ts)) for ts in mudancas if len(ts) == 1)
    fora = {t: v for t, v in testes.items() if t not in escolhidos}

    print(f"{len(mudancas)} noticed changes" + (f" ({sem_nome} without test names, left out)" if sem_nome else ""))
    print(f"{len(testes)} tests, {sum(v[1] for v in testes.values())} lines; "
          f"{len(sos)} are some change's only catcher; the set holds {len(escolhidos)}")
    print(f"outside the set: {len(fora)} tests, {sum(v[1] for v in fora.values())} lines")
    por_arquivo = collections.defaultdict(list)
    for t, (arquivo, n) in fora.items():
        por_arquivo[arquivo].append((n, t))
    for arquivo in sorted(por_arquivo, key=lambda f: -sum(n for n, _ in por_arquivo[f])):
        print(f"{sum(n for n, _ in por_arquivo[arquivo]):5} {arquivo}")
        for n, t in sorted(por_arquivo[arquivo], reverse=True):
            print(f"      {n:4} {t}")


if __name__ == "__main__":
    try:
        main()
    except BrokenPipeError:  # read through head: the rest is not wanted
        sys.stderr.close()
