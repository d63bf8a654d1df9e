# Data layer fuzzers (src/data): one per reader of an outside file.
servo_fuzzer(data_language SOURCES ${CMAKE_CURRENT_LIST_DIR}/data_language.cpp LIBS servo_data RUNS 8000)
servo_fuzzer(data_model_table SOURCES ${CMAKE_CURRENT_LIST_DIR}/data_model_table.cpp LIBS servo_data RUNS 10000)
servo_fuzzer(data_settings SOURCES ${CMAKE_CURRENT_LIST_DIR}/data_settings.cpp LIBS servo_data)
servo_fuzzer(data_value_file SOURCES ${CMAKE_CURRENT_LIST_DIR}/data_value_file.cpp LIBS servo_data)
