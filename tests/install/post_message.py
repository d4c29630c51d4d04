"""post_message.py WORK_QUEUE CURRENT NAME DATA: the C consumer's twin for
the installed Python package, run with only the prefix's dist-packages on
PYTHONPATH. Prints the file of the library the package loaded, then posts
and stays until the message has been taken, as post_message.c does."""

import sys
import time

import dovel
from dovel import _native

work_queue, current, name, data = sys.argv[1:]
print(_native.lib._name, flush=True)
with dovel.Queue(work_queue, current) as queue:
    queue.post(name, data.encode())
    # Whoever runs this bounds the wait.
    while queue.waiting() > 0:
        time.sleep(0.01)
