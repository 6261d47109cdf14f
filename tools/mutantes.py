#!/usr/bin/env python3
"""Applies a list of single, realistic changes to the code, one at a time, in
a scratch copy of the tracked files, builds and runs the tests after each, and
reports which changes no test noticed.

    python3 tools/mutantes.py tools/mutantes/servico.jsonl [--copia DIR] [--testes-de REV]

Each line of the list is a JSON object: "arquivo" (a path in the tree), "de"
(text that occurs exactly once in it), "para" (what it becomes) and,
optionally, "testes" (a ctest -R expression; all tests when absent) and
"porque" (what the change stands for). The working tree is never touched.
The unchanged copy must pass the tests the list names first. --testes-de
takes the test files (*_test.cpp) as they were at a revision, so that a new
test can be shown to notice a change the old tests let through. --matriz FILE
appends, per change, the change, its tests and every one of them that failed
on it (one JSON line each); tools/matriz.py reads that back to tell which
tests can be trimmed. --depressa builds without optimisation or debug information,
which builds and links a change faster; give it a --copia of its own.
Exit code: 0 when every change was noticed, 1 when some survived or did not
build, 2 on a setup problem.
"""
import argparse
import json
import os
import shutil
import subprocess
import sys

RAIZ = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def executa(args, cwd, limite=None):
    r = subprocess.run(args, cwd=cwd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=limite)
    return r.returncode, r.stdout.decode(errors="replace")


def copia_arvore(destino, revisao_testes=None):
    """The tracked files as they are in the working tree (the tests, with
    revisao_testes, as they were at that revision)."""
    arquivos = subprocess.run(["git", "ls-files", "-z"], cwd=RAIZ, stdout=subprocess.PIPE, check=True).stdout
    nomes = set(filter(None, arquivos.decode().split("\0")))
    # A file the tree no longer has would still be built from an old copy.
    for pasta, _, contidos in os.walk(destino):
        for c in contidos:
            caminho = os.path.join(pasta, c)
            if os.path.relpath(caminho, destino) not in nomes:
                os.remove(caminho)
    for nome in sorted(nomes):
        origem = os.path.join(RAIZ, nome)
        if not os.path.isfile(origem):
            continue
        conteudo = open(origem, "rb").read()
        if revisao_testes and nome.endswith("_test.cpp"):
            r = subprocess.run(["git", "show", f"{revisao_testes}:{nome}"], cwd=RAIZ, stdout=subprocess.PIPE,
                               stderr=subprocess.DEVNULL)
            conteudo = r.stdout if r.returncode == 0 else b""
        alvo = os.path.join(destino, nome)
        os.makedirs(os.path.dirname(alvo), exist_ok=True)
        if not os.path.exists(alvo) or open(alvo, "rb").read() != conteudo:
            with open(alvo, "wb") as f:
                f.write(conteudo)


# Programs the tests start as separate processes: rebuilt with any test program.
PROGRAMAS = {"Tolvan", "tolvan-cli", "tolvan-inspeciona", "tolvan-servidor-teste"}


def alvos_dos_testes(build, testes):
    """The test programs that hold the tests matching the expression, and the
    programs tests start, so that a change rebuilds only those (None:
    everything)."""
    if not testes:
        return None
    rc, saida = executa(["ctest", "--test-dir", build, "-N", "-R", testes, "--show-only=json-v1"], build)
    try:
        nomes = {os.path.basename(t["command"][0]) for t in json.loads(saida)["tests"] if t.get("command")}
    except (ValueError, KeyError):
        return None
    if not nomes:
        return None
    _, ajuda = executa(["cmake", "--build", build, "--target", "help"], build)
    existentes = {l[4:].split()[0] for l in ajuda.splitlines() if l.startswith("... ")}
    return sorted(nomes | (PROGRAMAS & existentes))


def constroi_e_testa(fonte, build, testes, jobs, alvos=None):
    alvo = sum((["--target", x] for x in alvos), []) if alvos else []
    rc, saida = executa(["cmake", "--build", build, "-j", str(jobs)] + alvo, fonte)
    if rc != 0:
        return "compilacao", saida
    args = ["ctest", "--test-dir", build, "-j", str(jobs), "--timeout", "300"]
    if testes:
        args += ["-R", testes]
    rc, saida = executa(args, fonte)
    return ("falhou" if rc != 0 else "passou"), saida


def testes_que_falharam(saida):
    """The names ctest lists after "The following tests FAILED:"."""
    nomes, dentro = [], False
    for linha in saida.splitlines():
        if linha.startswith("The following tests FAILED:"):
            dentro = True
        elif dentro and " - " in linha:
            nomes.append(linha.split(" - ", 1)[1].rsplit(" (", 1)[0].strip())
        elif dentro:
            break
    return nomes


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("lista")
    ap.add_argument("--copia", default="/tmp/tolvan-mutantes")
    ap.add_argument("--jobs", type=int, default=os.cpu_count() or 2)
    ap.add_argument("--testes-de", metavar="REV")
    ap.add_argument("--matriz", metavar="ARQUIVO")
    ap.add_argument("--depressa", action="store_true")
    a = ap.parse_args()

    mutantes = []
    with open(a.lista, encoding="utf-8") as f:
        for n, linha in enumerate(f, 1):
            if linha.strip():
                try:
                    mutantes.append(json.loads(linha))
                except json.JSONDecodeError as e:
                    print(f"{a.lista}:{n}: {e}", file=sys.stderr)
                    return 2

    fonte = os.path.join(a.copia, "fonte")
    build = os.path.join(a.copia, "build")
    os.makedirs(fonte, exist_ok=True)
    copia_arvore(fonte, a.testes_de)
    # Putting a file back recompiles whatever includes it; with ccache that
    # second build comes from the cache.
    lancador = ["-DCMAKE_CXX_COMPILER_LAUNCHER=ccache"] if shutil.which("ccache") else []
    # Without optimisation or debug information a change builds and links
    # faster, and the suite passes the same.
    tipo = ["-DCMAKE_BUILD_TYPE=None", "-DCMAKE_CXX_FLAGS=-O0 -g0"] if a.depressa else ["-DCMAKE_BUILD_TYPE=RelWithDebInfo"]
    rc, saida = executa(["cmake", "-S", fonte, "-B", build, "-DZEL_BENCHMARKS=OFF"] + tipo + lancador, fonte)
    if rc != 0:
        print(saida, file=sys.stderr)
        return 2
    expressoes = [m.get("testes") for m in mutantes]
    base = None if not expressoes or None in expressoes else "|".join(f"(?:{e})" for e in sorted(set(expressoes)))
    estado, saida = constroi_e_testa(fonte, build, base, a.jobs)
    if estado != "passou":
        print("the unchanged copy does not pass its tests:\n" + saida[-3000:], file=sys.stderr)
        return 2

    sobreviventes = sem_compilar = 0
    for i, m in enumerate(mutantes, 1):
        caminho = os.path.join(fonte, m["arquivo"])
        original = open(caminho, encoding="utf-8", errors="surrogateescape").read()
        if original.count(m["de"]) != 1:
            print(f"{i:3} ?         {m['arquivo']}: the text occurs {original.count(m['de'])} times")
            sobreviventes += 1
            continue
        with open(caminho, "w", encoding="utf-8", errors="surrogateescape") as f:
            f.write(original.replace(m["de"], m["para"]))
        try:
            estado, saida = constroi_e_testa(fonte, build, m.get("testes"), a.jobs, alvos_dos_testes(build, m.get("testes")))
        finally:
            with open(caminho, "w", encoding="utf-8", errors="surrogateescape") as f:
                f.write(original)
        # A change that does not build says nothing of the tests: it is left
        # out of the count, to be rewritten.
        sobreviventes += 1 if estado == "passou" else 0
        sem_compilar += 1 if estado == "compilacao" else 0
        if a.matriz:
            with open(a.matriz, "a", encoding="utf-8") as f:
                # The change itself goes along, so that a later run of the same
                # change, from any list, replaces this one.
                f.write(json.dumps({"lista": os.path.basename(a.lista), "n": i, "arquivo": m["arquivo"],
                                    "de": m["de"], "para": m["para"], "testes": m.get("testes"),
                                    "estado": estado, "falharam": testes_que_falharam(saida)}) + "\n")
        rotulo = {"falhou": "noticed", "compilacao": "no build", "passou": "SURVIVED"}[estado]
        print(f"{i:3} {rotulo:9} {m['arquivo']}: {m.get('porque', m['para'])}", flush=True)
    contados = len(mutantes) - sem_compilar
    print(f"{contados - sobreviventes} of {contados} changes noticed"
          + (f" ({sem_compilar} did not build)" if sem_compilar else ""))
    return 1 if sobreviventes or sem_compilar else 0


if __name__ == "__main__":
    sys.exit(main())
