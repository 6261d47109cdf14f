#!/usr/bin/env python3
"""Reads what `mutantes.py --matriz` wrote (per change, the tests that failed on
it) and says which tests the lists need:

    python3 tools/matriz.py MATRIZ.jsonl... [--por-mudanca K]
        [--pastas PASTA... [--listas LISTA... [--fontes PASTA...] [--faltam ARQUIVO]]]

- the tests that are some change's only catcher;
- a small set of tests that still notices every noticed change at least K
  times (or as often as it was noticed, when less), chosen greedily by
  changes caught per line;
- the tests outside that set, with their lines (the comment above a test
  counts as its own), by file.

A change run more than once counts by its newest run (give the matrices
oldest first). With --pastas only the tests of those folders may fall
outside the set; every other test stays. With --listas it first counts the
lines of the lists that have not run into the matrix (or whose newest
run the change survived, not on purpose: its "porque" does not say
"survives") and could make one of those tests fail (a change in the folders, or in the --fontes their test
programs also hold, whose tests expression takes one of them); --faltam
writes them as a list to run. Until they have run, the set may be too small.

A test outside the set notices no listed change that the set misses; it may
still be the only check of a behaviour no list names, so read it before
removing it.
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


def cobertura(mudancas, k, linhas, fixos=frozenset()):
    """The only catchers and the tests that stay anyway, then greedily the
    test that adds most wanted catches per line, until every change has
    min(k, its catchers)."""
    pega = collections.defaultdict(set)
    for i, testes in enumerate(mudancas):
        for t in testes:
            pega[t].add(i)
    escolhidos = {next(iter(ts)) for ts in mudancas if len(ts) == 1} | set(fixos)
    falta = [min(k, len(ts)) - len(ts & escolhidos) for ts in mudancas]
    while any(f > 0 for f in falta):
        candidatos = [t for t in pega if t not in escolhidos and any(falta[i] > 0 for i in pega[t])]
        t = max(candidatos, key=lambda t: (sum(falta[i] > 0 for i in pega[t]) / max(1, linhas(t)), t))
        escolhidos.add(t)
        for i in pega[t]:
            falta[i] -= 1
    return escolhidos


def chave(e):
    """A change is the same change in any list it stands in."""
    return (e["arquivo"], e["de"], e["para"]) if "de" in e else (e["lista"], e["n"])


def le_matrizes(caminhos):
    """The newest run of each change: (state, catchers)."""
    ultima = {}
    for caminho in caminhos:
        for linha in open(caminho, encoding="utf-8"):
            e = json.loads(linha)
            ultima[chave(e)] = (e["estado"], {nome_do_teste(t) for t in e["falharam"]})
    return ultima


def sem_execucao(listas, ultima, testes, pastas, fontes):
    """The lines of the lists that no run in the matrix covers (or only one
    that the change survived, not on purpose) and that can reach a test of
    the folders: a changed file whose code their programs hold, and a tests
    expression that takes one of their tests."""
    faltam = []
    das_pastas = [t for t, (arquivo, _) in testes.items() if arquivo.startswith(pastas)]
    for lista in listas:
        for linha in open(lista, encoding="utf-8"):
            m = json.loads(linha)
            if not m["arquivo"].startswith(fontes):
                continue
            execucao = ultima.get(chave(m))
            # A run that the change survived, unless on purpose, predates the
            # test that notices it.
            if execucao and (execucao[0] != "passou" or "survives" in m.get("porque", "").lower()):
                continue
            expressao = re.compile(m.get("testes") or "")
            if any(expressao.search(t) for t in das_pastas):
                faltam.append(m)
    return faltam


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("matriz", nargs="+")
    ap.add_argument("--por-mudanca", type=int, default=1, metavar="K")
    ap.add_argument("--pastas", nargs="+", metavar="PASTA",
                    help="only these folders' tests may go; the others stay")
    ap.add_argument("--listas", nargs="+", metavar="LISTA",
                    help="with --pastas: the lists whose lines must all have run")
    ap.add_argument("--fontes", nargs="+", metavar="PASTA",
                    help="with --listas: the folders whose code those tests' programs hold (default: --pastas)")
    ap.add_argument("--faltam", metavar="ARQUIVO", help="with --listas: write the lines still to run as a list")
    a = ap.parse_args()

    testes = testes_das_fontes()
    ultima = le_matrizes(a.matriz)
    pastas = tuple(p.rstrip("/") + "/" for p in a.pastas or [])
    if pastas and a.listas:
        # A folder's test programs hold its code and the layers below it, so
        # a change anywhere else cannot make them fail.
        fontes = tuple(p.rstrip("/") + "/" for p in a.fontes or []) or pastas
        faltam = sem_execucao(a.listas, ultima, testes, pastas, fontes)
        if faltam:
            print(f"{len(faltam)} lines of the lists reach these folders' tests and have not run into the matrix")
            if a.faltam:
                with open(a.faltam, "w", encoding="utf-8") as f:
                    f.writelines(json.dumps(m, ensure_ascii=False) + "\n" for m in faltam)
    mudancas, sem_nome = [], 0
    for estado, pegaram in ultima.values():
        if estado != "falhou":
            continue
        if pegaram:
            mudancas.append(pegaram)
        else:
            sem_nome += 1
    fixos = {t for t, (arquivo, _) in testes.items() if pastas and not arquivo.startswith(pastas)}
    escolhidos = cobertura(mudancas, a.por_mudanca, lambda t: testes.get(t, ("", 1))[1], fixos)
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
