import os
import subprocess

import pytest

import dovel


class ListHost:
    """list_host: a queue object's three lists, and the engine's dispatch on
    demand."""

    def __init__(self):
        self.process = subprocess.Popen(
            [os.environ["DOVEL_LIST_HOST"]], stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True
        )
        ids = self.process.stdout.readline().split()
        assert len(ids) == 3, f"list_host printed {ids!r}"
        self.work_queue, self.current, self.last_sent = ids

    def command(self, line):
        self.process.stdin.write(line + "\n")
        self.process.stdin.flush()
        return self.process.stdout.readline().split()

    def close(self):
        self.process.stdin.close()
        try:
            assert self.process.wait(timeout=60) == 0
        finally:
            if self.process.poll() is None:
                self.process.kill()
                self.process.wait()
            self.process.stdout.close()


@pytest.fixture
def host():
    lists = ListHost()
    yield lists
    lists.close()


@pytest.fixture
def queue(host):
    with dovel.Queue(host.work_queue, host.current, host.last_sent) as opened:
        yield opened
