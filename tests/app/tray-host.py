"""A minimal system tray for a virtual X server, speaking X11 directly.

It owns the selection _NET_SYSTEM_TRAY_S0 (which is how programs find a
tray), announces itself to the root window, and docks the icon windows
that ask for it: each is put into the tray's own window (at 600, 0 on the
screen, 24 pixels a slot) and shown. It reports on stdout, one line each:

    ready
    docked WINDOW_ID
    gone WINDOW_ID          (the icon window was destroyed or left the tray)

Only the handful of requests this needs are written here.
"""
import os
import socket
import struct
import sys


class X11:
    def __init__(self, display):
        number = display.split(':', 1)[1].split('.', 1)[0]
        self.sock = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        self.sock.connect(f'/tmp/.X11-unix/X{number}')
        self.sock.sendall(struct.pack('<BxHHHHxx', 0x6C, 11, 0, 0, 0))
        head = self.read(8)
        if head[0] != 1:
            raise SystemExit('tray-host: the X server refused the connection')
        body = self.read(struct.unpack('<H', head[6:8])[0] * 4)
        self.id_base, self.id_mask = struct.unpack('<II', body[4:12])
        vendor_len = struct.unpack('<H', body[16:18])[0]
        formats = body[21]
        screen = 32 + (vendor_len + 3) // 4 * 4 + 8 * formats
        self.root = struct.unpack('<I', body[screen:screen + 4])[0]
        self.next_id = 1
        self.pending = []  # events read while waiting for a reply

    def read(self, n):
        data = b''
        while len(data) < n:
            chunk = self.sock.recv(n - len(data))
            if not chunk:
                raise EOFError
            data += chunk
        return data

    def packet(self):
        data = self.read(32)
        if data[0] == 1:  # a reply may carry more
            data += self.read(struct.unpack('<I', data[4:8])[0] * 4)
        return data

    def reply(self):
        while True:
            data = self.packet()
            if data[0] == 1:
                return data
            if data[0] == 0:
                raise SystemExit(f'tray-host: X error {data[1]}')
            self.pending.append(data)

    def event(self):
        return self.pending.pop(0) if self.pending else self.packet()

    def new_id(self):
        wid = self.id_base | (self.next_id & self.id_mask)
        self.next_id += 1
        return wid

    def atom(self, name):
        raw = name.encode()
        pad = (4 - len(raw) % 4) % 4
        self.sock.sendall(struct.pack('<BBHHxx', 16, 0, 2 + (len(raw) + pad) // 4, len(raw)) + raw + b'\0' * pad)
        return struct.unpack('<I', self.reply()[8:12])[0]

    def create_window(self, x, y, width, height):
        wid = self.new_id()
        # Value mask: background pixel (black) and event mask (substructure notify).
        self.sock.sendall(struct.pack('<BBHIIhhHHHHIIII', 1, 0, 10, wid, self.root, x, y, width, height, 0, 1, 0,
                                      0x0002 | 0x0800, 0, 0x00080000))
        return wid

    def map(self, wid):
        self.sock.sendall(struct.pack('<BxHI', 8, 2, wid))

    def reparent(self, wid, parent, x, y):
        self.sock.sendall(struct.pack('<BxHIIhh', 7, 4, wid, parent, x, y))

    def own_selection(self, wid, selection):
        self.sock.sendall(struct.pack('<BxHIII', 22, 4, wid, selection, 0))

    def announce(self, manager, selection, owner):
        event = struct.pack('<BBHII5I', 33, 32, 0, self.root, manager, 0, selection, owner, 0, 0)
        self.sock.sendall(struct.pack('<BBHII', 25, 0, 11, self.root, 0x00020000) + event)


def main():
    x = X11(os.environ['DISPLAY'])
    selection = x.atom('_NET_SYSTEM_TRAY_S0')
    opcode = x.atom('_NET_SYSTEM_TRAY_OPCODE')
    manager = x.atom('MANAGER')
    tray = x.create_window(600, 0, 40, 24)
    x.map(tray)
    x.own_selection(tray, selection)
    x.announce(manager, selection, tray)
    x.atom('_NET_SYSTEM_TRAY_S0')  # a round trip: everything above is done
    print('ready', flush=True)
    docked = []
    while True:
        try:
            event = x.event()
        except EOFError:
            return
        code = event[0] & 0x7F
        if code == 33:  # ClientMessage
            window, kind = struct.unpack('<II', event[4:12])
            data = struct.unpack('<5I', event[12:32])
            if window == tray and kind == opcode and data[1] == 0:  # a request to dock
                icon = data[2]
                x.reparent(icon, tray, 24 * len(docked), 0)
                x.map(icon)
                docked.append(icon)
                print(f'docked {icon:#x}', flush=True)
        elif code in (17, 21):  # DestroyNotify, ReparentNotify (away from the tray)
            wid = struct.unpack('<I', event[8:12])[0]
            parent = struct.unpack('<I', event[12:16])[0] if code == 21 else 0
            if wid in docked and (code == 17 or parent != tray):
                docked.remove(wid)
                print(f'gone {wid:#x}', flush=True)


if __name__ == '__main__':
    sys.exit(main())
