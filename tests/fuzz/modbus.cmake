# The Modbus master's receive path: unframing and response validation.
servo_fuzzer(modbus_receive SOURCES modbus_receive.cpp LIBS servo_modbus)
