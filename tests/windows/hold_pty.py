"""A quiet far end of a serial line: opens a pseudo-terminal in raw mode,
queues "HELLO\\r\\n" for the side that will open the slave, prints the slave's
path and then never reads, so that writes to the slave fill the line."""
import os
import pty
import time
import tty

master, slave = pty.openpty()
tty.setraw(slave)
os.write(master, b"HELLO\r\n")
print(os.ttyname(slave), flush=True)
while True:
    time.sleep(3600)
