#!/usr/bin/env python3
"""Turns the benchmarks' "key value" files into the table of docs/benchmarks.md.
    report.py OUT.md SPEED NSIS [ENDURANCE]"""
import datetime
import os
import platform
import subprocess
import sys


def read(path):
    values = {}
    if path and os.path.exists(path):
        with open(path) as f:
            for line in f:
                key, _, value = line.strip().partition(' ')
                if key:
                    values[key] = float(value) if value.replace('.', '', 1).replace('-', '', 1).isdigit() else value
    return values


def machine():
    cpu = 'unknown processor'
    try:
        with open('/proc/cpuinfo') as f:
            cpu = next(line.split(':', 1)[1].strip() for line in f if line.startswith('model name'))
    except (OSError, StopIteration):
        pass
    wine = subprocess.run(['wine', '--version'], capture_output=True, text=True).stdout.strip()
    return f'{cpu}, {os.cpu_count()} cores, {platform.system()} {platform.release()}, {wine}'


def code(value):
    """An exit code as nsExec or the System plugin left it: a number or a word."""
    return f'{value:.0f}' if isinstance(value, float) else value


def verdict(ok):
    return 'met' if ok else 'MISSED'


def main():
    out, speed, nsis = sys.argv[1], read(sys.argv[2]), read(sys.argv[3])
    endurance = read(sys.argv[4] if len(sys.argv) > 4 else None)
    lines = [
        '# Benchmarks',
        '',
        f'Run on {datetime.date.today()}: {machine()}.',
        'Made by `scripts/bench.sh` (add `--endurance` for the long run). Medians of',
        'interleaved rounds; every host here has no console, as an installer has none.',
        '',
        '## Execute against the floor',
        '',
        '| measure | Execute | floor | ratio | target |',
        '|---|---|---|---|---|',
    ]
    call, floor = speed['call.execute_ms'], speed['call.floor_ms']
    lines.append(f'| one call, child exits at once (ms) | {call:.1f} | {floor:.1f} (CreateProcessA + wait, flags 0) '
                 f'| {call / floor:.2f} x | at most 1.05 x: {verdict(call <= 1.05 * floor)} |')
    lines.append(f'| the same child started DETACHED_PROCESS (no console) (ms) | - | '
                 f'{speed["call.floor_detached_ms"]:.1f} | - | for comparison |')
    rate, direct = speed['capture.execute_mbps'], speed['capture.floor_1k_mbps']
    lines.append(f'| capture of 64 MiB (MB/s) | {rate:.1f} | {direct:.1f} (host reads 1 KiB at a time) '
                 f'| {rate / direct:.2f} x | at least 0.95 x: {verdict(rate >= 0.95 * direct)} |')
    lines.append(f'| the pipe\'s own best, 64 KiB reads (MB/s) | - | {speed["capture.pipe_64k_mbps"]:.1f} | - '
                 f'| for comparison |')
    held = speed['exit.grandchild_ms']
    lines.append(f'| child\'s exit to return, grandchild holds the pipe (ms) | {held:.1f} | '
                 f'{speed["exit.plain_ms"]:.1f} (no grandchild) | - | under 50 ms: {verdict(held < 50)} |')
    lines.append(f'| host memory while capturing 64 MiB (MiB) | {speed["memory.peak_growth_mib"]:.1f} | '
                 f'{speed["memory.buffer_mib"]:.1f} (the buffer) | +{speed["memory.beyond_buffer_kib"]:.0f} KiB '
                 f'| buffer + small constant |')

    if nsis:
        calls, rounds = nsis['nsis.calls'], nsis['nsis.rounds']
        tarvo_cps = calls / (nsis['nsis.tarvo_trivial_ms'] / 1000)
        nsexec_cps = calls / (nsis['nsis.nsexec_trivial_ms'] / 1000)
        mb = 8 * 1048576 / 1e6 * rounds
        tarvo_mbps = mb / (nsis['nsis.tarvo_large_ms'] / 1000)
        nsexec_mbps = mb / (nsis['nsis.nsexec_large_ms'] / 1000)
        lines += [
            '',
            '## In a real NSIS installer: TarvoSetup Execute against nsExec::ExecToStack',
            '',
            '| measure | TarvoSetup | nsExec | ratio | target |',
            '|---|---|---|---|---|',
            f'| calls per second, child exits at once ({calls:.0f} calls each) | {tarvo_cps:.1f} | {nsexec_cps:.1f} '
            f'| {tarvo_cps / nsexec_cps:.2f} x | at least 1.5 x: {verdict(tarvo_cps >= 1.5 * nsexec_cps)} |',
            f'| 8 MiB of output, buffer holds it all (MB/s, {rounds:.0f} rounds) | {tarvo_mbps:.1f} '
            f'| {nsexec_mbps:.1f} | {tarvo_mbps / nsexec_mbps:.2f} x | at least 2 x: '
            f'{verdict(tarvo_mbps >= 2 * nsexec_mbps)} |',
            f'| 8 MiB into the script\'s {1024}-byte string (ms per call) | '
            f'{nsis["nsis.tarvo_cut_ms"] / rounds:.0f} (exit code {code(nsis["nsis.tarvo_cut_exit"])}) '
            f'| {nsis["nsis.nsexec_large_ms"] / rounds:.0f} | not comparable | see below |',
            f'| child leaves a grandchild holding the output for 3 s (ms to return) '
            f'| {nsis["nsis.tarvo_grandchild_ms"]:.0f} | {nsis["nsis.nsexec_grandchild_ms"]:.0f} | - | - |',
            f'| child reads stdin to its end (ms to return) | {nsis["nsis.tarvo_stdin_ms"]:.0f} '
            f'(exit {code(nsis["nsis.tarvo_stdin_exit"])}) | {nsis["nsis.nsexec_stdin_ms"]:.0f} '
            f'(exit {code(nsis["nsis.nsexec_stdin_exit"])}) | - | - |',
            '',
            f'TarvoSetup captured {nsis["nsis.tarvo_large_captured"]:.0f} of 8388608 bytes into the large buffer.',
            'With a buffer smaller than the output the two differ by design: nsExec reads',
            'everything and drops what does not fit, while Execute stops reading once its',
            'buffer is full, so the child\'s further writes fail and it ends early (here with',
            'exit code 1, the child\'s own code for a failed write). Neither figure is a speed.',
        ]

    if endurance:
        e = endurance
        lines += [
            '',
            '## Endurance',
            '',
            '| run | calls | wrong results | seconds |',
            '|---|---|---|---|',
            f'| sequential | 10000 | {e["endurance.sequential_failures"]:.0f} | {e["endurance.sequential_s"]:.0f} |',
            f'| 8 threads at once | 8 x 1000 | {e["endurance.concurrent_failures"]:.0f} '
            f'| {e["endurance.concurrent_s"]:.0f} |',
            '',
            '| | start | end | growth |',
            '|---|---|---|---|',
        ]
        for key, label in (('handles', 'handles'), ('threads', 'threads'), ('private_kib', 'private memory (KiB)')):
            start, end = e[f'endurance.start_{key}'], e[f'endurance.end_{key}']
            lines.append(f'| {label} | {start:.0f} | {end:.0f} | {end - start:+.0f} |')

    lines += [
        '',
        '## What the figures mean',
        '',
        '- Under Wine every `ReadFile` on a pipe is a round trip to the Wine server, so',
        '  1 KiB reads cap the capture rate near the "floor" figure whoever reads; the pipe',
        '  itself moves far more with large reads. Execute reads in 1 KiB chunks by design',
        '  and keeps up with a host that reads the pipe itself the same way. On Windows a',
        '  pipe read is a local kernel call with no server round trip, so the 1 KiB chunk',
        '  costs far less there; these figures were taken under Wine only.',
        '- A console child started with creation flags 0 by a host without a console gets',
        '  a console of its own (hidden); that is most of a call\'s cost here, as the',
        '  DETACHED_PROCESS line shows. Execute, with its pipes and its reader thread,',
        '  costs no more than starting and waiting for the same child bare.',
        '- nsExec polls its pipe on a timer; Execute\'s reader blocks in the read and wakes',
        '  when data comes, and the calling thread waits for the child itself.',
    ]
    text = '\n'.join(lines) + '\n'
    with open(out, 'w') as f:
        f.write(text)
    print(text)


if __name__ == '__main__':
    main()
