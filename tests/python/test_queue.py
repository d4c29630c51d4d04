import dataclasses
import gc
import os
import subprocess
import sys

import pytest

import dovel
from dovel import Error, QueueList, Result

NOWHERE = "{00000000-0000-0000-0000-000000000001}"


def raises(result):
    return pytest.raises(Error, match=result.name)


def test_post_keeps_order_and_fields(host, queue):
    ids = [queue.post("one", b"\x00\x01"), queue.post("二", auto=True), queue.post("😀" * 25, bytes(range(256)))]
    assert len(set(ids)) == 3 and all(len(i) == dovel.ID_LENGTH for i in ids)
    assert queue.length() == queue.waiting() == 3
    dovel.sweep()  # never touches blocks a live process holds
    snapshot = queue.read_list(QueueList.WORK_QUEUE)
    assert snapshot.complete and snapshot.ids == tuple(ids)

    first, second, third = (dovel.read_message(i) for i in ids)
    assert (first.name, first.data, first.auto, first.next_id) == ("one", b"\x00\x01", False, ids[1])
    assert (second.name, second.data, second.auto, second.head_id) == ("二", b"", True, host.work_queue)
    assert (third.name, third.data, third.next_id) == ("😀" * 25, bytes(range(256)), host.work_queue)
    with pytest.raises(dataclasses.FrozenInstanceError):
        first.name = "changed"
    assert dovel.block_kind(ids[0]) == dovel.BlockKind.MESSAGE
    assert dovel.block_kind(host.work_queue) == dovel.BlockKind.LIST


def test_dispatch_take_and_last_sent(host, queue):
    first, second = queue.post("first"), queue.post("second")
    assert queue.take() is None
    assert host.command("dispatch") == ["sent", first]
    assert queue.waiting() == 2  # handed over, not yet taken
    assert queue.take() == first
    assert queue.waiting() == 1 and queue.length() == 1
    assert dovel.read_message(first).head_id == host.last_sent
    assert host.command("dispatch") == ["sent", second]
    assert queue.take() == second
    assert queue.waiting() == queue.length() == 0
    assert queue.read_list(QueueList.LAST_SENT).ids == (second,)
    assert queue.read_list(QueueList.CURRENT).ids == ()
    assert host.command("dispatch") == ["idle"]
    queue.mark_last_sent(second)
    with raises(Result.NOT_FOUND):
        queue.mark_last_sent(NOWHERE)


def test_refused_input_changes_nothing(host, queue):
    for bad in ("nonsense", host.work_queue + "\0", host.work_queue[:-1] + "é"):
        with raises(Result.BAD_IDENTIFIER):
            dovel.Queue(bad)
    with raises(Result.NOT_FOUND) as refused:
        dovel.Queue(NOWHERE)
    assert refused.value.text == dovel.result_text(Result.NOT_FOUND) and isinstance(refused.value.system_code, int)
    with pytest.raises(TypeError):
        dovel.Queue(42)

    for name in ("\ud800", "a\0b"):
        with raises(Result.BAD_TEXT):
            queue.post(name)
    with raises(Result.TOO_LONG):
        queue.post("x" * 51)
    with raises(Result.TOO_LONG):
        queue.post("😀" * 26)  # 26 characters, 52 UTF-16 units
    with raises(Result.TOO_LONG):
        queue.post("x", bytes(257))
    for data in ("text", 5):
        with pytest.raises(TypeError):
            queue.post("x", data)
    assert queue.length() == 0

    with raises(Result.INVALID_ARGUMENT):
        dovel.read_list(host.work_queue, -1)
    with raises(Result.WRONG_KIND):
        dovel.read_message(host.work_queue)
    with raises(Result.INVALID_ARGUMENT):
        queue.list_id(7)


def test_lists_opened_without_refuse_their_calls(host):
    with dovel.Queue(host.work_queue) as poster:
        assert poster.list_id(QueueList.WORK_QUEUE) == host.work_queue
        poster.post("posted")
        with raises(Result.INVALID_ARGUMENT):
            poster.take()
        with raises(Result.INVALID_ARGUMENT):
            poster.list_id(QueueList.CURRENT)


def test_closed_queue_raises(queue):
    queue.close()
    queue.close()
    assert queue.closed
    for call in (lambda: queue.post("late"), queue.take, queue.length, lambda: queue.list_id(0)):
        with raises(Result.INVALID_ARGUMENT):
            call()


def test_collected_and_exiting_handles_let_go(host):
    posted = dovel.Queue(host.work_queue).post("unsent")
    gc.collect()  # the unreachable handle took its message along
    with raises(Result.NOT_FOUND):
        dovel.read_message(posted)
    assert host.command("dispatch") == ["idle"]  # the engine drops the dead link

    # A handle left open at exit is closed by the interpreter, without a crash.
    script = f"import dovel; q = dovel.Queue({host.work_queue!r}); q.post('x'); print(q.length())"
    run = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, env=os.environ, timeout=60)
    assert (run.returncode, run.stdout.strip(), run.stderr) == (0, "1", "")


def test_walks_stop_on_loops_and_dead_links(host):
    head, first, second = host.command("loop")
    looped = dovel.read_list(head)
    assert looped.ids == (first, second) and looped.status == Result.BROKEN_CHAIN
    assert dovel.read_list(head, max_messages=1).ids == (first,)

    head, only = host.command("broken")
    broken = dovel.read_list(head)
    assert broken.ids == (only,) and not broken.complete
