#!/usr/bin/env python3
"""Makes the manual's figures and source-parameter tables from the femtokit program.

  /usr/bin/python3 docs/figures/make_figures.py [--femtokit build/femtokit]

run from anywhere after the program is built. It writes
  docs/figures/source_<model>.png   S(r) of every source model (femtokit source, Matplotlib)
  docs/figures/tutorial_*.png       the tutorials' pictures, by running the tutorials
                                    (docs/run_tutorial.py) and keeping what they draw
and rewrites the parameter tables of docs/sources.md between the lines
'<!-- table MODEL -->' and '<!-- end table -->' from 'femtokit cf --help', which
prints each model's one table. The docs_manual test checks that the tables
are current (parameter_tables()).
"""

import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
DOCS = os.path.dirname(HERE)
ROOT = os.path.dirname(DOCS)
sys.path.insert(0, DOCS)

HELP_LINE = re.compile(r'^    (\w+)=(\S+)(?: (\S+))?\s+([\[(]\S+, \S+[\])])(?: \S+)?\s+(.*)$')
MODEL_LINE = re.compile(r'^  (\w+): (.*)$')

# What each source figure draws: (model, settings, options, curves label).
SOURCES = {
    'gx1d': [('lambdaG=0.6 R=5 lambdaX=0', 'Gaussian, R = 5 fm'),
             ('lambdaG=0.4 R=4 lambdaX=0.3 X=10', 'Gaussian R = 4 fm + tail X = 10 fm')],
    'levy': [('lambda=1 R=4 alpha=2', 'α = 2 (Gaussian)'), ('lambda=1 R=4 alpha=1.5', 'α = 1.5'),
             ('lambda=1 R=4 alpha=1', 'α = 1 (Cauchy)')],
    'gauss3d': [('lambda=1 Rx=6 Ry=5 Rz=4', 'Rx = 6, Ry = 5, Rz = 4 fm (angular average)')],
    'blast': [('--pars data/blast/pions.dat', 'pions (data/blast/pions.dat)'),
              ('--pars data/blast/protons.dat', 'protons (data/blast/protons.dat)')],
    'events': [('--pars data/oscar/oscarparameters.dat', 'π+ of data/oscar/gauss_events.oscar')],
}


def parameter_tables(femtokit):
    """Markdown tables of every model's parameters, from 'femtokit cf --help'."""
    text = subprocess.run([femtokit, 'cf', '--help'], capture_output=True, text=True, check=True).stdout
    tables, model = {}, None
    for line in text.split('\n'):
        m = MODEL_LINE.match(line)
        if m and m.group(1) in SOURCES:
            model = m.group(1)
            tables[model] = ['| parameter | unit | default | range | meaning |', '| --- | --- | --- | --- | --- |']
            continue
        p = HELP_LINE.match(line)
        if model and p:
            name, default, unit, rng, meaning = p.groups()
            meaning = meaning.replace('|', '\\|')
            tables[model].append('| `%s` | %s | %s | %s | %s |' % (name, unit or '', default, rng, meaning))
        elif not line.startswith('    '):
            model = None
    return {k: '\n'.join(v) for k, v in tables.items()}


def update_tables(chapter, tables):
    with open(chapter, encoding='utf-8') as f:
        text = f.read()
    for model, table in tables.items():
        text = re.sub(r'(<!-- table %s -->\n)(?:(?!<!--).)*?(<!-- end table -->)' % model,
                      lambda m: m.group(1) + table + '\n' + m.group(2), text, flags=re.S)
    with open(chapter, 'w', encoding='utf-8') as f:
        f.write(text)


def source_profile(femtokit, model, settings, workdir):
    out = os.path.join(workdir, 'source.dat')
    args = [femtokit, 'source', '-m', model, '-o', out, '-q', '--nr', '120', '--dr', '0.25']
    words = settings.split()
    i = 0
    while i < len(words):
        if words[i].startswith('--'):
            args += [words[i], words[i + 1]]
            i += 2
        else:
            args += ['-s', words[i]]
            i += 1
    subprocess.run(args, cwd=ROOT, check=True, capture_output=True)
    import numpy as np
    t = np.loadtxt(out)
    return t[:, 0], t[:, 1]


def source_figures(femtokit, workdir):
    import matplotlib
    matplotlib.use('Agg')
    import matplotlib.pyplot as plt
    for model, curves in SOURCES.items():
        fig, (lin, log) = plt.subplots(1, 2, figsize=(10, 3.8))
        for settings, label in curves:
            r, s = source_profile(femtokit, model, settings, workdir)
            lin.plot(r, 4 * 3.141592653589793 * r * r * s, label=label)
            log.semilogy(r, s.clip(min=1e-12), label=label)
        lin.set_xlabel('r (fm)')
        lin.set_ylabel('4π r² S(r) (fm⁻¹)')
        log.set_xlabel('r (fm)')
        log.set_ylabel('S(r) (fm⁻³)')
        log.set_ylim(bottom=1e-9)
        lin.legend(fontsize=8)
        fig.suptitle('%s source' % model)
        fig.tight_layout()
        fig.savefig(os.path.join(HERE, 'source_%s.png' % model), dpi=80)
        plt.close(fig)


def tutorial_figures(femtokit):
    import run_tutorial
    for chapter in ('tutorial_pp.md', 'tutorial_levy.md', 'tutorial_3d.md'):
        work = tempfile.mkdtemp(prefix='femtokit-figures-')
        try:
            env = dict(os.environ, PYTHONPATH=os.path.join(ROOT, 'build', 'python'))
            for o in run_tutorial.run_chapter(os.path.join(DOCS, chapter), femtokit, work, env=env):
                if o.status == 'failed':
                    raise SystemExit('%s: %r' % (chapter, o))
            for name in os.listdir(work):
                if name.startswith('tutorial_') and name.endswith('.png'):
                    shutil.copy(os.path.join(work, name), os.path.join(HERE, name))
        finally:
            shutil.rmtree(work, ignore_errors=True)


def main(argv):
    p = argparse.ArgumentParser(description=__doc__.split('\n\n')[0])
    p.add_argument('--femtokit', default=os.path.join(ROOT, 'build', 'femtokit'))
    a = p.parse_args(argv[1:])
    femtokit = os.path.abspath(a.femtokit)
    update_tables(os.path.join(DOCS, 'sources.md'), parameter_tables(femtokit))
    work = tempfile.mkdtemp(prefix='femtokit-figures-')
    try:
        source_figures(femtokit, work)
    finally:
        shutil.rmtree(work, ignore_errors=True)
    tutorial_figures(femtokit)
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv))
