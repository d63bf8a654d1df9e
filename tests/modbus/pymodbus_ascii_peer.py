#!/usr/bin/python3
"""pymodbus's Modbus ASCII framer (Debian's python3-pymodbus, 3.0) as an
independent peer, over a pseudo-terminal, without pyserial.

  pymodbus_ascii_peer.py drive STATION
      Plays a drive: prints "READY <pty path>", then answers requests for
      STATION from a pymodbus data store (holding register i holds 1000 + i,
      coils and discrete input i are i % 3 == 0) until standard input closes.
      Each request served is printed as "REQUEST <function> <address>".

  pymodbus_ascii_peer.py master PTY STATION
      Plays a master against PTY: reads holding registers 0-11, writes 4321
      to register 22 and reads it back, writes coils 0-3 to 1 0 1 1 and reads
      them back. Prints one line per answer ("regs 0 1 2 ...", "wrote 22",
      "coils 1 0 1 1") and exits 1 on a missing or refused answer.
"""
import os
import select
import sys
import termios
import tty

from pymodbus.bit_read_message import ReadCoilsRequest
from pymodbus.bit_write_message import WriteMultipleCoilsRequest
from pymodbus.datastore import ModbusSequentialDataBlock, ModbusSlaveContext
from pymodbus.factory import ClientDecoder, ServerDecoder
from pymodbus.framer.ascii_framer import ModbusAsciiFramer
from pymodbus.register_read_message import ReadHoldingRegistersRequest
from pymodbus.register_write_message import WriteSingleRegisterRequest


def raw(fd):
    tty.setraw(fd)
    attrs = termios.tcgetattr(fd)
    attrs[3] &= ~termios.ECHO
    termios.tcsetattr(fd, termios.TCSANOW, attrs)


def drive(station):
    master_fd, slave_fd = os.openpty()
    raw(slave_fd)
    raw(master_fd)
    store = ModbusSlaveContext(
        di=ModbusSequentialDataBlock(0, [i % 3 == 0 for i in range(100)]),
        co=ModbusSequentialDataBlock(0, [i % 3 == 0 for i in range(100)]),
        hr=ModbusSequentialDataBlock(0, [1000 + i for i in range(300)]),
        ir=ModbusSequentialDataBlock(0, [2000 + i for i in range(100)]),
        zero_mode=True,
    )
    framer = ModbusAsciiFramer(ServerDecoder())
    print("READY " + os.ttyname(slave_fd), flush=True)

    def answer(request):
        response = request.execute(store)
        response.unit_id = request.unit_id
        os.write(master_fd, framer.buildPacket(response))
        print(f"REQUEST {request.function_code} {getattr(request, 'address', '-')}", flush=True)

    while True:
        ready, _, _ = select.select([master_fd, sys.stdin], [], [])
        if sys.stdin in ready and not sys.stdin.readline():
            return 0
        if master_fd in ready:
            try:
                data = os.read(master_fd, 1024)
            except OSError:
                continue
            framer.processIncomingPacket(data, answer, unit=[station], single=False)
            # pymodbus keeps a frame with a bad LRC at the head of its buffer;
            # drop it so that the next request is read.
            if b"\r\n" in framer._buffer and not framer.checkFrame():
                framer.resetFrame()


def master(path, station):
    fd = os.open(path, os.O_RDWR | os.O_NOCTTY)
    raw(fd)
    framer = ModbusAsciiFramer(ClientDecoder())

    def exchange(request):
        request.unit_id = station
        os.write(fd, framer.buildPacket(request))
        results = []
        while not results:
            ready, _, _ = select.select([fd], [], [], 2.0)
            if not ready:
                print("no answer to function %d" % request.function_code, flush=True)
                sys.exit(1)
            framer.processIncomingPacket(os.read(fd, 1024), results.append, unit=station)
        response = results[0]
        if response.isError():
            print("refused: %s" % response, flush=True)
            sys.exit(1)
        return response

    regs = exchange(ReadHoldingRegistersRequest(0, 12)).registers
    print("regs " + " ".join(str(r) for r in regs), flush=True)
    exchange(WriteSingleRegisterRequest(22, 4321))
    print("wrote 22", flush=True)
    print("reg22 %d" % exchange(ReadHoldingRegistersRequest(22, 1)).registers[0], flush=True)
    exchange(WriteMultipleCoilsRequest(0, [True, False, True, True]))
    bits = exchange(ReadCoilsRequest(0, 4)).bits[:4]
    print("coils " + " ".join("1" if b else "0" for b in bits), flush=True)
    return 0


if __name__ == "__main__":
    if len(sys.argv) == 3 and sys.argv[1] == "drive":
        sys.exit(drive(int(sys.argv[2])))
    if len(sys.argv) == 4 and sys.argv[1] == "master":
        sys.exit(master(sys.argv[2], int(sys.argv[3])))
    print(__doc__, file=sys.stderr)
    sys.exit(2)
