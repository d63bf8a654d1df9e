#!/usr/bin/env python3
"""Generates the sample drive family shipped in dist/.

The QX3 family is a made-up 220 V / 380 V AC servo drive line used for
demonstrations and tests. This script is the only source of its data; the
files it writes are committed, so edit the tables here and run it again:

    scripts/make_sample_family.py            # write and check
    scripts/make_sample_family.py --check    # only check the files in dist/

Outputs:
    dist/Language/Define.cfg     Chinese language file (UTF-16LE, BOM, CR LF)
    dist/Language/DefineEn.cfg   English language file (same drive data)
    dist/version/Servo.csv       per-model parameter values (ASCII, CR LF)

Register map of the family:
    holding 0 ...     parameters, contiguous in table order (32-bit values
                      low word first); register 0 is the motor code, which
                      is safe to read as a link probe
    holding 4096 ...  status block (item 8 is the alarm code)
    holding 8192 ...  scope quantities, consecutive registers
    holding 65535     EEPROM command register (handled by the drive)
"""

import argparse
import os
import sys

ROOT = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
LANG_DIR = os.path.join(ROOT, "dist", "Language")
MODEL_FILE = os.path.join(ROOT, "dist", "version", "Servo.csv")

LANGS = ("zh", "en")
LANG_FILES = {"zh": "Define.cfg", "en": "DefineEn.cfg"}

# --------------------------------------------------------------------------
# User interface texts, by entry number. Numbers not listed stay absent.
# --------------------------------------------------------------------------

UI_TEXTS = {
    0: ("伺服管理软件 - QX3系列", "Servo Manager - QX3 Series"),
    1: ("【驱动状态】", "Drive Status"),
    2: ("【驱动参数】", "Parameters"),
    3: ("【示波器】", "Oscilloscope"),
    4: ("通讯管理", "Communication"),
    5: ("波特率选择", "Baud rate"),
    6: ("端口选择", "Serial port"),
    7: ("站号", "Station"),
    8: ("连接", "Connect"),
    9: ("断开", "Disconnect"),
    10: ("系统状态", "System status"),
    11: ("参数名称", "Quantity"),
    12: ("当前值", "Value"),
    13: ("单位", "Unit"),
    14: ("未知", "Unknown"),
    15: ("QX3系列交流伺服驱动器：Modbus RTU，8位数据，无校验，1位停止位。"
         "出厂站号为1，波特率为115200 bps，可由参数{station}、{baud}修改（重新上电生效）。",
         "QX3 series AC servo drive: Modbus RTU, 8 data bits, no parity, 1 stop bit. "
         "Factory station 1 at 115200 bps; change with {station} and {baud} "
         "(takes effect after a power cycle)."),
    16: ("IO状态", "I/O status"),
    17: ("输入检测", "Inputs"),
    18: ("DI1", "DI1"),
    19: ("DI2", "DI2"),
    20: ("DI3", "DI3"),
    21: ("DI4", "DI4"),
    22: ("DI5", "DI5"),
    23: ("DI6", "DI6"),
    24: ("DI7", "DI7"),
    25: ("DI8", "DI8"),
    26: ("脉冲输入PULS", "Pulse PULS"),
    27: ("方向输入SIGN", "Sign SIGN"),
    43: ("输出检测", "Outputs"),
    44: ("DO1", "DO1"),
    45: ("DO2", "DO2"),
    46: ("DO3", "DO3"),
    47: ("DO4", "DO4"),
    48: ("DO5", "DO5"),
    49: ("DO6", "DO6"),
    50: ("Z相输出OCZ", "Z pulse OCZ"),
    51: ("抱闸继电器BRK", "Brake relay BRK"),
    64: ("通讯连接OK", "Link OK"),
    65: ("网络通讯异常", "Communication fault"),
    66: ("通讯未连接", "Not connected"),
    67: ("Error", "Error"),
    68: ("通信未连接或通讯异常，请确认驱动器通信连接正常后再试！",
         "Not connected or communication fault. Check the drive connection and try again!"),
    69: ("驱动参数管理", "Drive parameters"),
    70: ("备份文件", "Back up to file"),
    71: ("加载文件", "Load file"),
    72: ("导入文件数据", "Write file values"),
    73: ("恢复出厂值", "Factory defaults"),
    74: ("固化驱动器参数", "Save to EEPROM"),
    75: ("参数号", "No."),
    76: ("参数名称", "Name"),
    77: ("驱动器值", "Drive value"),
    78: ("载入文件值", "File value"),
    79: ("参 数 说 明:", "Description:"),
    80: ("当前值：", "Current:"),
    81: ("修改为：", "New value:"),
    82: ("确认修改", "Apply"),
    83: ("  参数名：", "Name: "),
    84: ("参数范围：", "Range: "),
    85: ("参数单位：", "Unit: "),
    86: ("  出厂值：", "Factory: "),
    87: ("生效方式：", "Takes effect: "),
    88: ("适用方式：", "Modes: "),
    89: ("参数说明：", "Details: "),
    90: ("Error", "Error"),
    91: ("备份参数失败！", "Backing up the parameters failed!"),
    92: ("Error", "Error"),
    93: ("参数加载失败！", "Loading the parameter file failed!"),
    94: ("Error", "Error"),
    95: ("还未加载文件，目前没有可写入的数据！", "No file loaded yet, there is nothing to write!"),
    96: ("Error", "Error"),
    97: ("参数导入失败！", "Writing the file values failed!"),
    98: ("Success", "Success"),
    99: ("参数导入成功，执行【固化驱动器参数】操作方可保证写入的参数在断电后不丢失！",
         "File values written. Use \"Save to EEPROM\" to keep them after the drive is switched off!"),
    100: ("Error", "Error"),
    101: ("恢复出厂值失败！", "Restoring the factory values failed!"),
    102: ("Success", "Success"),
    103: ("恢复出厂值成功！", "Factory values restored!"),
    104: ("5000", "5000"),
    105: ("Error", "Error"),
    106: ("驱动器参数固化失败！", "Saving the drive parameters to EEPROM failed!"),
    107: ("Success", "Success"),
    108: ("驱动器参数固化成功！", "Drive parameters saved to EEPROM!"),
    109: ("写入RAM", "Write to RAM"),
    110: ("写入EEPROM", "Write to EEPROM"),
    111: ("开启", "On"),
    112: ("关闭", "Off"),
    113: ("采样周期", "Sample period"),
    114: ("采集点数", "Points"),
    115: ("X 网格数", "X grid"),
    116: ("Y 网格数", "Y grid"),
    117: ("显示坐标数据", "Show coordinates"),
    118: ("设置参数范围", "Set ranges"),
    119: ("清屏", "Clear"),
    120: ("暂停", "Pause"),
    121: ("继续", "Resume"),
    122: ("参数值范围设置", "Channel ranges"),
    123: ("参数名称", "Quantity"),
    124: ("最小值", "Minimum"),
    125: ("最大值", "Maximum"),
    126: ("确认修改", "Apply"),
    127: ("警告", "Warning"),
    128: ("设定的最小值不能大于最大值！", "The minimum must not be greater than the maximum!"),
    129: (" 报警代码：", " Alarm code: "),
    130: (" 报警内容：", " Alarm: "),
    131: (" 报警原因：", " Cause: "),
    132: ("选择驱动器型号!", "Select drive model!"),
}

# Entries the program uses; every one of them must be present in our files.
UI_REQUIRED = sorted(set(range(0, 28)) | set(range(43, 52)) | set(range(64, 133)))

# --------------------------------------------------------------------------
# Text macros. Effect modes and shared descriptions.
# --------------------------------------------------------------------------

MACROS = [
    ("IMM", "立即生效", "Immediately"),
    ("STOP", "伺服OFF时设定，立即生效", "Set while the servo is off, then immediately"),
    ("PWR", "重新上电生效", "After a power cycle"),
    ("RO", "只读，不可设定", "Read only"),
    ("DIFUN",
     "DI端子功能：0：无功能；1：伺服使能S-ON；2：报警复位ALM-RST；3：正向超程P-OT；"
     "4：反向超程N-OT；5：零速箝位ZCLAMP；6：增益切换GAIN-SEL；7：控制模式切换MODE-SEL；"
     "8：脉冲禁止INHIBIT；9：位置偏差清除CLR；10：正向转矩限制P-CL；11：反向转矩限制N-CL；"
     "12：原点回归启动HOME；13：原点开关ORG；14：内部速度选择1 SPD1；15：内部速度选择2 SPD2；"
     "16：紧急停止EMG。同一功能不可分配给两个端子。",
     "DI terminal function: 0: none; 1: servo on S-ON; 2: alarm reset ALM-RST; "
     "3: forward overtravel P-OT; 4: reverse overtravel N-OT; 5: zero clamp ZCLAMP; "
     "6: gain switch GAIN-SEL; 7: control mode switch MODE-SEL; 8: pulse inhibit INHIBIT; "
     "9: clear following error CLR; 10: forward torque limit P-CL; 11: reverse torque limit N-CL; "
     "12: start homing HOME; 13: home switch ORG; 14: internal speed select 1 SPD1; "
     "15: internal speed select 2 SPD2; 16: emergency stop EMG. "
     "A function must not be assigned to two terminals."),
    ("DOFUN",
     "DO端子功能：0：无功能；1：伺服准备好RDY；2：报警输出ALM；3：定位完成COIN；"
     "4：速度到达V-CMP；5：零速ZSP；6：转矩限制中TLC；7：制动器释放BRK；8：警告输出WARN；"
     "9：原点回归完成HOME-OK。",
     "DO terminal function: 0: none; 1: servo ready RDY; 2: alarm ALM; 3: positioning complete COIN; "
     "4: speed reached V-CMP; 5: zero speed ZSP; 6: torque limited TLC; 7: brake release BRK; "
     "8: warning WARN; 9: homing complete HOME-OK."),
    ("GEAR",
     "电子齿轮比 = 分子/分母，将指令脉冲换算为编码器单位，设定范围1/1000～8000。"
     "仅当{pulse_per_rev}为0时有效。32位参数，占两个寄存器（低16位在前）。",
     "Electronic gear ratio = numerator / denominator, converts command pulses to encoder "
     "counts; allowed ratio 1/1000 to 8000. Used only when {pulse_per_rev} is 0. "
     "32-bit parameter in two registers, low word first."),
]

# --------------------------------------------------------------------------
# Drive models of the value sets (Servo.csv), in file order.
# --------------------------------------------------------------------------

MODELS = ["QX3-010A", "QX3-040A", "QX3-075A", "QX3-150A", "QX3-300T"]

# --------------------------------------------------------------------------
# Parameters, in register order. Numbers are explicit so the table reads like
# the manual; registers are assigned by the generator.
#
# p(number, key, type, name, modes, min, max, factory, unit, effect, description,
#   access="RW", models=None)
#   name, unit, description: (Chinese, English) or one string for both;
#   a description "%NAME%" refers to a macro; "{key}" inside a text becomes the
#   number of that parameter.
#   models: one value per entry of MODELS; absent = factory value for all.
# --------------------------------------------------------------------------

MODE_WORDS = {"P": ("位置", "P"), "S": ("速度", "S"), "T": ("转矩", "T")}

U_NONE = "-"
U_RPM = "rpm"
U_MS = "ms"
U_CMD = ("指令单位", "cmd unit")


class Param:
    def __init__(self, number, key, type_, name, modes, lo, hi, factory, unit, effect,
                 desc, access="RW", models=None):
        self.number = number
        self.key = key
        self.type = type_
        self.name = name
        self.modes = modes
        self.lo = lo
        self.hi = hi
        self.factory = factory
        self.unit = unit
        self.effect = effect
        self.desc = desc
        self.access = access
        self.models = models
        self.address = None


def p(*args, **kwargs):
    return Param(*args, **kwargs)


PARAMS = [
    # ---- P00 basic settings ------------------------------------------------
    p("P00.00", "motor_code", "INT16U", ("电机编号", "Motor code"), "PST", 0, 9999, 0,
      U_NONE, "PWR",
      ("0：从绝对值编码器自动读取电机型号；其他：按电机铭牌设定电机编号。"
       "编号与驱动器不匹配时报警25。",
       "0: read the motor type from the absolute encoder; other: motor code from the "
       "motor name plate. A code that does not suit the drive raises alarm 25."),
      models=[1101, 1104, 1107, 2115, 3230]),
    p("P00.01", "ctrl_mode", "INT16U", ("控制模式选择", "Control mode"), "PST", 0, 5, 0,
      U_NONE, "STOP",
      ("0：位置模式；1：速度模式；2：转矩模式；3：位置/速度切换；4：位置/转矩切换；"
       "5：速度/转矩切换。切换模式由DI功能7（MODE-SEL）选择。",
       "0: position; 1: speed; 2: torque; 3: position/speed; 4: position/torque; "
       "5: speed/torque. In the switching modes DI function 7 (MODE-SEL) selects the second mode.")),
    p("P00.02", "direction", "INT16U", ("旋转方向选择", "Rotation direction"), "PST", 0, 1, 0,
      U_NONE, "STOP",
      ("0：正向指令时电机逆时针旋转（从轴端看）；1：正向指令时电机顺时针旋转。",
       "0: a positive command turns the motor counter-clockwise (seen from the shaft end); "
       "1: clockwise.")),
    p("P00.03", "rated_current", "INT16U", ("驱动器额定电流", "Drive rated current"), "PST",
      0, 5000, 28, ("0.1A", "0.1 A"), "RO",
      ("驱动器额定输出电流（有效值），由硬件决定。", "Rated output current (RMS) of the drive hardware."),
      access="R", models=[11, 28, 47, 90, 76]),
    p("P00.04", "rated_power", "INT16U", ("驱动器额定功率", "Drive rated power"), "PST",
      0, 7500, 400, "W", "RO",
      ("驱动器额定输出功率，由硬件决定。", "Rated output power of the drive hardware."),
      access="R", models=[100, 400, 750, 1500, 3000]),
    p("P00.05", "encoder_type", "INT16U", ("编码器类型", "Encoder type"), "PST", 0, 2, 1,
      U_NONE, "PWR",
      ("0：17位增量式编码器；1：23位单圈绝对值编码器；2：23位多圈绝对值编码器（需电池）。",
       "0: 17-bit incremental; 1: 23-bit single-turn absolute; "
       "2: 23-bit multi-turn absolute (needs the battery)."),
      models=[0, 1, 1, 2, 2]),
    p("P00.06", "regen_select", "INT16U", ("再生电阻设置", "Regenerative resistor"), "PST",
      0, 2, 0, U_NONE, "STOP",
      ("0：使用内置再生电阻；1：使用外接再生电阻（按{regen_power}、{regen_ohm}设定）；"
       "2：不使用再生电阻，仅靠母线电容吸收。",
       "0: built-in resistor; 1: external resistor (set {regen_power} and {regen_ohm}); "
       "2: none, the DC bus capacitors absorb the energy."),
      models=[2, 0, 0, 0, 1]),
    p("P00.07", "regen_power", "INT16U", ("外接再生电阻功率", "External resistor power"), "PST",
      10, 5000, 40, "W", "STOP",
      ("外接再生电阻的额定功率，用于再生过载计算。",
       "Rated power of the external resistor, used for the regeneration overload check."),
      models=[20, 40, 50, 80, 1000]),
    p("P00.08", "regen_ohm", "INT16U", ("外接再生电阻阻值", "External resistor value"), "PST",
      10, 1000, 50, ("Ω", "ohm"), "STOP",
      ("外接再生电阻的阻值，不得低于驱动器允许的最小值。",
       "Resistance of the external resistor; must not be below the drive's minimum."),
      models=[100, 50, 40, 25, 40]),
    p("P00.09", "firmware", "INT16U", ("软件版本", "Firmware version"), "PST",
      0, 65535, 1207, U_NONE, "RO",
      ("驱动器软件版本，例如1207表示V1.2.07。", "Drive firmware version, 1207 meaning V1.2.07."),
      access="R"),
    p("P00.10", "panel_display", "INT16U", ("面板初始显示", "Initial panel display"), "PST",
      0, 7, 0, U_NONE, "IMM",
      ("上电后面板显示的监视量：0：电机转速；1：速度指令；2：输出转矩；3：位置偏差；"
       "4：母线电压；5：驱动器温度；6：负载率；7：输入端子状态。",
       "Monitor shown on the panel after power-up: 0: motor speed; 1: speed command; "
       "2: output torque; 3: following error; 4: DC bus voltage; 5: drive temperature; "
       "6: load ratio; 7: input terminal state.")),
    p("P00.11", "stop_mode", "INT16U", ("伺服OFF停机方式", "Servo-off stop mode"), "PST",
      0, 2, 0, U_NONE, "STOP",
      ("0：自由停车；1：零速停车后保持自由状态；2：动态制动停车。",
       "0: coast to stop; 1: decelerate to zero speed, then coast; 2: dynamic braking.")),

    # ---- P01 position control ---------------------------------------------
    p("P01.00", "pos_source", "INT16U", ("位置指令来源", "Position command source"), "P",
      0, 2, 0, U_NONE, "STOP",
      ("0：外部脉冲指令；1：内部多段位置；2：通讯给定。",
       "0: external pulse train; 1: internal position table; 2: via communication.")),
    p("P01.01", "pulse_form", "INT16U", ("指令脉冲输入形式", "Pulse input form"), "P",
      0, 2, 0, U_NONE, "PWR",
      ("0：脉冲+方向；1：正转/反转脉冲（CW/CCW）；2：A/B相正交脉冲（4倍频）。",
       "0: pulse and sign; 1: CW/CCW pulses; 2: A/B quadrature (x4).")),
    p("P01.02", "pulse_invert", "INT16U", ("指令脉冲方向取反", "Invert pulse direction"), "P",
      0, 1, 0, U_NONE, "PWR",
      ("0：不取反；1：将指令脉冲的方向取反。", "0: as received; 1: invert the command direction.")),
    p("P01.03", "pulse_per_rev", "INT32U", ("电机每转指令脉冲数", "Command pulses per revolution"),
      "P", 0, 8388608, 10000, ("脉冲/转", "pulse/rev"), "STOP",
      ("电机转一圈所需的指令脉冲数。为0时由电子齿轮比{gear_num}/{gear_den}决定。"
       "32位参数，占两个寄存器（低16位在前）。",
       "Command pulses for one motor revolution. 0: the electronic gear "
       "{gear_num}/{gear_den} applies. 32-bit parameter in two registers, low word first.")),
    p("P01.04", "gear_num", "INT32U", ("电子齿轮比分子", "Electronic gear numerator"), "P",
      1, 1073741824, 1, U_NONE, "STOP", "%GEAR%"),
    p("P01.05", "gear_den", "INT32U", ("电子齿轮比分母", "Electronic gear denominator"), "P",
      1, 1073741824, 1, U_NONE, "STOP", "%GEAR%"),
    p("P01.06", "pos_smooth", "INT16U", ("位置指令平滑时间", "Position command smoothing"), "P",
      0, 1000, 0, U_MS, "STOP",
      ("位置指令的一阶低通滤波时间常数，可减小启停冲击；0为不滤波。",
       "First-order low-pass time constant of the position command, softens starts and "
       "stops; 0 = no filter.")),
    p("P01.07", "coin_range", "INT16U", ("定位完成幅度", "Positioning complete range"), "P",
      1, 65535, 100, U_CMD, "IMM",
      ("位置偏差小于该值时输出定位完成信号COIN。",
       "COIN is output while the following error is below this value.")),
    p("P01.08", "coin_condition", "INT16U", ("定位完成输出条件", "Positioning complete condition"),
      "P", 0, 2, 0, U_NONE, "IMM",
      ("0：位置偏差小于定位完成幅度时输出；1：且滤波后的位置指令为0时输出；2：且位置指令为0时输出。",
       "0: following error within the range; 1: and the filtered command is zero; "
       "2: and the command is zero.")),
    p("P01.09", "home_mode", "INT16U", ("原点回归模式", "Homing method"), "P", 0, 6, 0,
      U_NONE, "IMM",
      ("0：正向寻找原点开关；1：反向寻找原点开关；2：正向寻找Z脉冲；3：反向寻找Z脉冲；"
       "4：以正向超程开关为原点；5：以反向超程开关为原点；6：以当前位置为原点。",
       "0: search the home switch forward; 1: search the home switch in reverse; "
       "2: search the Z pulse forward; 3: search the Z pulse in reverse; "
       "4: forward overtravel switch as home; 5: reverse overtravel switch as home; "
       "6: current position as home.")),
    p("P01.10", "home_speed_hi", "INT16U", ("原点回归高速", "Homing speed, fast"), "P",
      1, 3000, 100, U_RPM, "IMM",
      ("寻找原点开关时的速度。", "Speed while searching for the home switch.")),
    p("P01.11", "home_speed_lo", "INT16U", ("原点回归低速", "Homing speed, slow"), "P",
      1, 1000, 10, U_RPM, "IMM",
      ("离开原点开关寻找原点时的速度。", "Speed while leaving the switch to find the home point.")),
    p("P01.12", "home_offset", "INT32S", ("原点偏移量", "Home offset"), "P",
      -1073741824, 1073741824, 0, U_CMD, "IMM",
      ("原点回归完成后，当前位置被设为该值。32位参数。",
       "Position value set when homing completes. 32-bit parameter.")),
    p("P01.13", "home_timeout", "INT16U", ("原点回归超时时间", "Homing time-out"), "P",
      0, 60000, 10000, U_MS, "IMM",
      ("原点回归超过该时间未完成时报警22；0为不检测。",
       "Alarm 22 when homing takes longer; 0 = no check.")),

    # ---- P02 gains -----------------------------------------------------------
    p("P02.00", "speed_gain", "INT16U", ("速度比例增益", "Speed loop gain"), "PS",
      1, 20000, 400, ("0.1Hz", "0.1 Hz"), "IMM",
      ("速度环响应带宽。增大可提高响应，过大会引起振动和噪声。",
       "Speed loop bandwidth. Higher values respond faster; too high causes vibration and noise."),
      models=[500, 400, 350, 250, 180]),
    p("P02.01", "speed_integral", "INT16U", ("速度积分时间常数", "Speed loop integral time"), "PS",
      15, 51200, 2000, ("0.01ms", "0.01 ms"), "IMM",
      ("减小可加快消除稳态速度误差；设为51200时积分无效。",
       "Smaller values remove steady speed errors faster; 51200 disables the integral."),
      models=[1500, 2000, 2200, 3000, 4000]),
    p("P02.02", "pos_gain", "INT16U", ("位置比例增益", "Position loop gain"), "P",
      0, 20000, 480, ("0.1/s", "0.1/s"), "IMM",
      ("位置环增益。增大可减小跟随误差，过大会引起超调。",
       "Position loop gain. Higher values reduce the following error; too high causes overshoot."),
      models=[600, 480, 420, 300, 220]),
    p("P02.03", "torque_filter", "INT16U", ("转矩指令滤波时间常数", "Torque command filter"), "PST",
      0, 3000, 79, ("0.01ms", "0.01 ms"), "IMM",
      ("转矩指令的一阶低通滤波，可抑制机械共振引起的噪声。",
       "First-order low-pass filter of the torque command, damps noise from mechanical resonance."),
      models=[50, 79, 100, 126, 160]),
    p("P02.04", "speed_ff", "INT16U", ("速度前馈增益", "Speed feed-forward gain"), "P",
      0, 1000, 300, ("0.1%", "0.1%"), "IMM",
      ("将位置指令的速度分量前馈到速度环，可减小跟随误差。",
       "Feeds the speed part of the position command forward, reducing the following error.")),
    p("P02.05", "speed_ff_filter", "INT16U", ("速度前馈滤波时间常数", "Speed feed-forward filter"), "P",
      0, 6400, 50, ("0.01ms", "0.01 ms"), "IMM",
      ("速度前馈量的低通滤波时间常数。", "Low-pass time constant of the speed feed-forward.")),
    p("P02.06", "torque_ff", "INT16U", ("转矩前馈增益", "Torque feed-forward gain"), "PS",
      0, 2000, 0, ("0.1%", "0.1%"), "IMM",
      ("按加速度指令前馈转矩，惯量比设定准确时效果最好。",
       "Feeds torque forward from the acceleration command; works best with a correct inertia ratio.")),
    p("P02.07", "inertia_ratio", "INT16U", ("负载惯量比", "Load inertia ratio"), "PST",
      0, 12000, 250, "%", "IMM",
      ("负载惯量与电机转子惯量之比，100表示1倍。可由惯量辨识自动得到。",
       "Load inertia over rotor inertia, 100 meaning 1 times. Found by the inertia estimation."),
      models=[300, 250, 200, 500, 800]),
    p("P02.08", "speed_gain2", "INT16U", ("第二速度比例增益", "Speed loop gain 2"), "PS",
      1, 20000, 600, ("0.1Hz", "0.1 Hz"), "IMM",
      ("增益切换后使用的速度比例增益。", "Speed loop gain used after a gain switch."),
      models=[750, 600, 520, 380, 270]),
    p("P02.09", "speed_integral2", "INT16U", ("第二速度积分时间常数", "Speed loop integral time 2"),
      "PS", 15, 51200, 10000, ("0.01ms", "0.01 ms"), "IMM",
      ("增益切换后使用的速度积分时间常数。", "Speed loop integral time used after a gain switch.")),
    p("P02.10", "pos_gain2", "INT16U", ("第二位置比例增益", "Position loop gain 2"), "P",
      0, 20000, 570, ("0.1/s", "0.1/s"), "IMM",
      ("增益切换后使用的位置比例增益。", "Position loop gain used after a gain switch."),
      models=[700, 570, 500, 360, 260]),
    p("P02.11", "gain_switch", "INT16U", ("增益切换条件", "Gain switch condition"), "PS",
      0, 6, 0, U_NONE, "IMM",
      ("0：固定第一增益；1：固定第二增益；2：DI增益切换信号；3：转矩指令大；"
       "4：速度指令变化大；5：位置偏差大；6：有位置指令。",
       "0: always gain set 1; 1: always gain set 2; 2: DI gain switch input; 3: high torque command; "
       "4: fast speed command change; 5: large following error; 6: position command present.")),
    p("P02.12", "autotune", "INT16U", ("自动增益调整模式", "Auto-tuning mode"), "PST",
      0, 2, 1, U_NONE, "IMM",
      ("0：手动调整；1：标准模式，按刚性等级{rigidity}自动设定增益；2：定位模式，适用于点位运动。",
       "0: manual; 1: standard, gains follow the rigidity level {rigidity}; "
       "2: positioning, for point-to-point moves.")),
    p("P02.13", "rigidity", "INT16U", ("刚性等级", "Rigidity level"), "PST", 0, 31, 13,
      U_NONE, "IMM",
      ("自动调整模式下的刚性等级，数值越大响应越快，机械刚性差时应减小。",
       "Rigidity level in auto-tuning; higher is faster. Lower it for compliant mechanics."),
      models=[14, 13, 12, 11, 10]),
    p("P02.14", "notch_freq", "INT16U", ("陷波器频率", "Notch filter frequency"), "PST",
      50, 5000, 5000, "Hz", "IMM",
      ("抑制机械共振的陷波器中心频率；设为5000时陷波器无效。",
       "Centre frequency of the notch filter against mechanical resonance; 5000 disables it.")),
    p("P02.15", "notch_width", "INT16U", ("陷波器宽度", "Notch filter width"), "PST",
      0, 20, 2, U_NONE, "IMM",
      ("陷波器宽度等级，数值越大陷波越宽。", "Width level of the notch; higher is wider.")),
    p("P02.16", "notch_depth", "INT16U", ("陷波器深度", "Notch filter depth"), "PST",
      0, 99, 0, U_NONE, "IMM",
      ("陷波器深度等级，0为最深（完全衰减）。", "Depth level of the notch; 0 is the deepest.")),

    # ---- P03 speed and torque --------------------------------------------
    p("P03.00", "speed_source", "INT16U", ("速度指令来源", "Speed command source"), "S",
      0, 2, 0, U_NONE, "IMM",
      ("0：模拟量AI1；1：内部速度指令（由DI功能14、15选择）；2：通讯给定。",
       "0: analogue input AI1; 1: internal speeds (selected by DI functions 14 and 15); "
       "2: via communication.")),
    p("P03.01", "speed_int1", "INT16S", ("内部速度指令1", "Internal speed 1"), "S",
      -6000, 6000, 100, U_RPM, "IMM",
      ("SPD1有效、SPD2无效时的速度指令。", "Speed command with SPD1 on and SPD2 off.")),
    p("P03.02", "speed_int2", "INT16S", ("内部速度指令2", "Internal speed 2"), "S",
      -6000, 6000, 500, U_RPM, "IMM",
      ("SPD1无效、SPD2有效时的速度指令。", "Speed command with SPD1 off and SPD2 on.")),
    p("P03.03", "speed_int3", "INT16S", ("内部速度指令3", "Internal speed 3"), "S",
      -6000, 6000, 1000, U_RPM, "IMM",
      ("SPD1、SPD2均有效时的速度指令；两者均无效时速度指令为0。",
       "Speed command with SPD1 and SPD2 on; with both off the command is 0.")),
    p("P03.04", "accel_time", "INT16U", ("加速时间", "Acceleration time"), "S",
      0, 10000, 0, U_MS, "IMM",
      ("速度指令从0加速到1000 rpm所需的时间。", "Time for the speed command to rise from 0 to 1000 rpm.")),
    p("P03.05", "decel_time", "INT16U", ("减速时间", "Deceleration time"), "S",
      0, 10000, 0, U_MS, "IMM",
      ("速度指令从1000 rpm减速到0所需的时间。", "Time for the speed command to fall from 1000 rpm to 0.")),
    p("P03.06", "max_speed", "INT16U", ("最高转速限制", "Maximum speed"), "PST",
      0, 6500, 6000, U_RPM, "IMM",
      ("电机转速的上限，不得超过电机的最高转速。", "Upper speed limit; must not exceed the motor's maximum speed."),
      models=[6000, 6000, 6000, 3000, 3000]),
    p("P03.07", "zero_clamp", "INT16U", ("零速箝位阈值", "Zero clamp level"), "S",
      0, 6000, 30, U_RPM, "IMM",
      ("零速箝位有效且速度指令低于该值时，电机锁定在当前位置。",
       "With zero clamp on and the speed command below this level the motor holds its position.")),
    p("P03.08", "speed_reached", "INT16U", ("速度到达阈值", "Speed reached level"), "S",
      0, 6000, 1000, U_RPM, "IMM",
      ("电机转速超过该值时输出速度到达信号V-CMP。", "V-CMP is output while the motor speed is above this level.")),
    p("P03.09", "zero_speed", "INT16U", ("零速检测阈值", "Zero speed level"), "PST",
      1, 6000, 20, U_RPM, "IMM",
      ("电机转速低于该值时输出零速信号ZSP。", "ZSP is output while the motor speed is below this level.")),
    p("P03.10", "torque_source", "INT16U", ("转矩指令来源", "Torque command source"), "T",
      0, 2, 0, U_NONE, "IMM",
      ("0：模拟量AI2；1：内部转矩指令{torque_int}；2：通讯给定。",
       "0: analogue input AI2; 1: internal torque {torque_int}; 2: via communication.")),
    p("P03.11", "torque_int", "INT16S", ("内部转矩指令", "Internal torque command"), "T",
      -3000, 3000, 0, ("0.1%", "0.1%"), "IMM",
      ("以电机额定转矩为100%。", "In percent of the motor's rated torque.")),
    p("P03.12", "torque_limit_fwd", "INT16U", ("正向转矩限制", "Forward torque limit"), "PST",
      0, 3000, 3000, ("0.1%", "0.1%"), "IMM",
      ("正转方向的输出转矩上限，以额定转矩为100%。", "Output torque limit in the forward direction, rated torque = 100%."),
      models=[3000, 3000, 3000, 2500, 2500]),
    p("P03.13", "torque_limit_rev", "INT16U", ("反向转矩限制", "Reverse torque limit"), "PST",
      0, 3000, 3000, ("0.1%", "0.1%"), "IMM",
      ("反转方向的输出转矩上限，以额定转矩为100%。", "Output torque limit in the reverse direction, rated torque = 100%."),
      models=[3000, 3000, 3000, 2500, 2500]),
    p("P03.14", "torque_speed_limit", "INT16U", ("转矩模式速度限制", "Speed limit in torque mode"), "T",
      0, 6000, 3000, U_RPM, "IMM",
      ("转矩模式下的转速上限，防止空载飞车。", "Speed limit in torque mode, keeps an unloaded motor from running away."),
      models=[3000, 3000, 3000, 2000, 2000]),
    p("P03.15", "soft_limit_enable", "INT16U", ("软件限位使能", "Software limits"), "P",
      0, 1, 0, U_NONE, "IMM",
      ("0：无效；1：有效（原点回归完成后或使用绝对值编码器时）。",
       "0: off; 1: on (after homing, or with an absolute encoder).")),
    p("P03.16", "soft_limit_pos", "INT32S", ("正向软件限位", "Forward software limit"), "P",
      -2147483647, 2147483647, 2147483647, U_CMD, "IMM",
      ("位置反馈超过该值时禁止正向运动。32位参数。",
       "Forward motion stops when the position feedback passes this value. 32-bit parameter.")),
    p("P03.17", "soft_limit_neg", "INT32S", ("反向软件限位", "Reverse software limit"), "P",
      -2147483647, 2147483647, -2147483647, U_CMD, "IMM",
      ("位置反馈低于该值时禁止反向运动。32位参数。",
       "Reverse motion stops when the position feedback passes below this value. 32-bit parameter.")),

    # ---- P04 inputs and outputs ---------------------------------------------
    p("P04.00", "di1", "INT16U", ("DI1端子功能", "DI1 function"), "PST", 0, 16, 1, U_NONE, "PWR", "%DIFUN%"),
    p("P04.01", "di2", "INT16U", ("DI2端子功能", "DI2 function"), "PST", 0, 16, 2, U_NONE, "PWR", "%DIFUN%"),
    p("P04.02", "di3", "INT16U", ("DI3端子功能", "DI3 function"), "PST", 0, 16, 3, U_NONE, "PWR", "%DIFUN%"),
    p("P04.03", "di4", "INT16U", ("DI4端子功能", "DI4 function"), "PST", 0, 16, 4, U_NONE, "PWR", "%DIFUN%"),
    p("P04.04", "di5", "INT16U", ("DI5端子功能", "DI5 function"), "PST", 0, 16, 9, U_NONE, "PWR", "%DIFUN%"),
    p("P04.05", "di6", "INT16U", ("DI6端子功能", "DI6 function"), "PST", 0, 16, 8, U_NONE, "PWR", "%DIFUN%"),
    p("P04.06", "di7", "INT16U", ("DI7端子功能", "DI7 function"), "PST", 0, 16, 6, U_NONE, "PWR", "%DIFUN%"),
    p("P04.07", "di8", "INT16U", ("DI8端子功能", "DI8 function"), "PST", 0, 16, 16, U_NONE, "PWR", "%DIFUN%"),
    p("P04.08", "di_logic", "INT16U", ("DI有效电平", "DI active level"), "PST", 0, 255, 0,
      U_NONE, "PWR",
      ("按位设定DI1～DI8：位为0时光耦导通有效，位为1时光耦截止有效。",
       "One bit per input DI1 to DI8: 0 = active when the opto-coupler conducts, 1 = active when it is off.")),
    p("P04.09", "di_filter", "INT16U", ("DI滤波时间", "DI filter time"), "PST", 0, 100, 2,
      U_MS, "IMM",
      ("DI端子的去抖时间。", "Debounce time of the DI terminals.")),
    p("P04.10", "do1", "INT16U", ("DO1端子功能", "DO1 function"), "PST", 0, 9, 1, U_NONE, "PWR", "%DOFUN%"),
    p("P04.11", "do2", "INT16U", ("DO2端子功能", "DO2 function"), "PST", 0, 9, 2, U_NONE, "PWR", "%DOFUN%"),
    p("P04.12", "do3", "INT16U", ("DO3端子功能", "DO3 function"), "PST", 0, 9, 3, U_NONE, "PWR", "%DOFUN%"),
    p("P04.13", "do4", "INT16U", ("DO4端子功能", "DO4 function"), "PST", 0, 9, 5, U_NONE, "PWR", "%DOFUN%"),
    p("P04.14", "do5", "INT16U", ("DO5端子功能", "DO5 function"), "PST", 0, 9, 7, U_NONE, "PWR", "%DOFUN%"),
    p("P04.15", "do6", "INT16U", ("DO6端子功能", "DO6 function"), "PST", 0, 9, 6, U_NONE, "PWR", "%DOFUN%"),
    p("P04.16", "do_logic", "INT16U", ("DO输出极性", "DO polarity"), "PST", 0, 63, 0,
      U_NONE, "PWR",
      ("按位设定DO1～DO6：位为0时信号有效则输出导通，位为1时信号有效则输出截止。",
       "One bit per output DO1 to DO6: 0 = output conducts while the signal is on, "
       "1 = output is off while the signal is on.")),
    p("P04.17", "ai1_offset", "INT16S", ("AI1零点偏置", "AI1 offset"), "S", -5000, 5000, 0,
      "mV", "IMM",
      ("叠加到AI1输入电压上的偏置，用于消除零漂。", "Offset added to the AI1 voltage to cancel zero drift.")),
    p("P04.18", "ai1_gain", "INT16U", ("AI1速度指令增益", "AI1 speed command gain"), "S",
      10, 1000, 300, ("rpm/V", "rpm/V"), "IMM",
      ("每伏输入电压对应的速度指令。", "Speed command per volt of input.")),
    p("P04.19", "ai2_offset", "INT16S", ("AI2零点偏置", "AI2 offset"), "T", -5000, 5000, 0,
      "mV", "IMM",
      ("叠加到AI2输入电压上的偏置，用于消除零漂。", "Offset added to the AI2 voltage to cancel zero drift.")),
    p("P04.20", "ai2_gain", "INT16U", ("AI2转矩指令增益", "AI2 torque command gain"), "T",
      10, 1000, 100, ("0.1%/V", "0.1%/V"), "IMM",
      ("每伏输入电压对应的转矩指令，以额定转矩为100%。",
       "Torque command per volt of input, rated torque = 100%.")),
    p("P04.21", "encoder_out", "INT32U", ("编码器分频输出脉冲数", "Encoder output pulses"), "PST",
      16, 1048576, 2500, ("脉冲/转", "pulse/rev"), "PWR",
      ("电机每转输出的A/B相脉冲数（4倍频前）。32位参数。",
       "A/B pulses output per motor revolution (before x4). 32-bit parameter.")),

    # ---- P05 protection --------------------------------------------------------
    p("P05.00", "overload_level", "INT16U", ("电机过载保护系数", "Motor overload factor"), "PST",
      50, 300, 100, "%", "IMM",
      ("电机过载报警的检测系数，100%为标准特性。", "Scaling of the motor overload curve, 100% = standard.")),
    p("P05.01", "undervoltage", "INT16U", ("欠压报警阈值", "Undervoltage level"), "PST",
      100, 600, 200, "V", "IMM",
      ("母线电压低于该值时报警3。", "Alarm 3 when the DC bus voltage drops below this level."),
      models=[200, 200, 200, 200, 380]),
    p("P05.02", "phase_loss", "INT16U", ("主回路缺相检测", "Input phase loss check"), "PST",
      0, 1, 1, U_NONE, "PWR",
      ("0：不检测（单相或直流供电时）；1：检测，缺相时报警9。",
       "0: off (single-phase or DC supply); 1: on, alarm 9 on a missing phase."),
      models=[0, 1, 1, 1, 1]),
    p("P05.03", "overspeed", "INT16U", ("超速报警阈值", "Overspeed level"), "PST",
      0, 7000, 6600, U_RPM, "IMM",
      ("电机转速超过该值时报警5；0表示取最高转速的1.1倍。",
       "Alarm 5 above this speed; 0 = 1.1 times the maximum speed."),
      models=[6600, 6600, 6600, 3600, 3600]),
    p("P05.04", "following_limit", "INT32U", ("位置偏差过大阈值", "Following error limit"), "P",
      1, 1073741824, 30000, U_CMD, "IMM",
      ("位置偏差超过该值时报警6。32位参数。", "Alarm 6 when the following error exceeds this value. 32-bit parameter.")),
    p("P05.05", "brake_release_delay", "INT16U", ("抱闸打开延时", "Brake release delay"), "PST",
      0, 1000, 100, U_MS, "IMM",
      ("伺服ON后，抱闸打开到接受指令之间的延时。",
       "Delay after servo on from releasing the brake to accepting commands.")),
    p("P05.06", "brake_hold_delay", "INT16U", ("抱闸关闭延时", "Brake engage delay"), "PST",
      0, 1000, 150, U_MS, "IMM",
      ("伺服OFF时，抱闸关闭到电机断电之间的延时。",
       "Delay at servo off from engaging the brake to removing motor power.")),
    p("P05.07", "stall_time", "INT16U", ("堵转检测时间", "Stall detection time"), "PST",
      0, 10000, 200, U_MS, "IMM",
      ("输出转矩达到限制且电机不转的时间超过该值时报警24；0为不检测。",
       "Alarm 24 when the torque is at its limit and the motor does not turn for this long; "
       "0 = no check.")),
    p("P05.08", "run_hours", "INT32U", ("累计运行时间", "Operating hours"), "PST",
      0, 2147483647, 0, ("h", "h"), "RO",
      ("驱动器主回路通电的累计时间。32位参数。", "Total time with the main circuit powered. 32-bit parameter."),
      access="R"),
    p("P05.09", "last_alarm", "INT16U", ("最近一次报警代码", "Last alarm code"), "PST",
      0, 255, 0, U_NONE, "RO",
      ("最近一次发生的报警代码，0表示无报警记录。", "Code of the most recent alarm, 0 = none recorded."),
      access="R"),

    # ---- P06 communication -----------------------------------------------------
    p("P06.00", "station", "INT16U", ("通讯站号", "Station number"), "PST", 1, 247, 1,
      U_NONE, "PWR",
      ("Modbus从站地址。", "Modbus slave address.")),
    p("P06.01", "baud", "INT16U", ("通讯波特率", "Baud rate"), "PST", 0, 5, 5, U_NONE, "PWR",
      ("0：4800；1：9600；2：19200；3：38400；4：57600；5：115200 bps。",
       "0: 4800; 1: 9600; 2: 19200; 3: 38400; 4: 57600; 5: 115200 bps.")),
    p("P06.02", "data_format", "INT16U", ("通讯数据格式", "Data format"), "PST", 0, 3, 0,
      U_NONE, "PWR",
      ("0：无校验，1位停止位；1：偶校验，1位停止位；2：奇校验，1位停止位；3：无校验，2位停止位。数据位固定为8位。",
       "0: no parity, 1 stop bit; 1: even parity, 1 stop bit; 2: odd parity, 1 stop bit; "
       "3: no parity, 2 stop bits. Always 8 data bits.")),
    p("P06.03", "response_delay", "INT16U", ("通讯应答延时", "Response delay"), "PST",
      0, 100, 0, U_MS, "IMM",
      ("收到请求后至少等待该时间再应答。", "Minimum wait before the drive answers a request.")),
    p("P06.04", "comm_timeout", "INT16U", ("通讯超时检测时间", "Communication time-out"), "PST",
      0, 60000, 0, U_MS, "IMM",
      ("伺服ON期间超过该时间未收到正确报文时报警20；0为不检测。",
       "Alarm 20 when no valid request arrives for this long while the servo is on; 0 = no check.")),
    p("P06.05", "comm_store", "INT16U", ("通讯写入存储方式", "Store written values"), "PST",
      0, 1, 0, U_NONE, "IMM",
      ("0：通讯写入的参数只写入RAM，向寄存器65535写入命令后才存入EEPROM；"
       "1：每次写入同时存入EEPROM（频繁写入会缩短EEPROM寿命）。",
       "0: written values go to RAM only; a command to register 65535 stores them in EEPROM; "
       "1: every write is also stored in EEPROM (frequent writes wear the EEPROM).")),
]

# --------------------------------------------------------------------------
# Status items, block [<3>]: type, name, divisor ("1" or "" = none), unit.
# Registers are consecutive from STATUS_BASE; item 8 is the alarm code.
# --------------------------------------------------------------------------

STATUS_BASE = 4096

STATUS = [
    ("INT16S", ("电机转速", "Motor speed"), "1", "rpm"),
    ("INT16S", ("速度指令", "Speed command"), "1", "rpm"),
    ("INT16S", ("输出转矩", "Output torque"), "10.0", "%"),
    ("INT16U", ("相电流有效值", "Phase current (RMS)"), "10.0", "A"),
    ("INT32S", ("位置反馈", "Position feedback"), "", U_CMD),
    ("INT32S", ("位置偏差", "Following error"), "", U_CMD),
    ("INT16U", ("母线电压", "DC bus voltage"), "10.0", "V"),
    ("INT16S", ("驱动器温度", "Drive temperature"), "1", ("℃", "°C")),
    ("INT16U", ("报警代码", "Alarm code"), "", U_NONE),
    ("INT16U", ("输入端子状态", "Input terminals"), "", ("位", "bits")),
    ("INT16U", ("输出端子状态", "Output terminals"), "", ("位", "bits")),
    ("INT16U", ("负载率", "Load ratio"), "10.0", "%"),
    ("INT16U", ("再生负载率", "Regeneration load"), "10.0", "%"),
    ("INT32S", ("指令脉冲累计", "Command pulse count"), "", U_CMD),
    ("INT16S", ("AI1输入电压", "AI1 voltage"), "100.0", "V"),
    ("INT16S", ("AI2输入电压", "AI2 voltage"), "100.0", "V"),
    ("INT16U", ("惯量辨识结果", "Estimated inertia ratio"), "", "%"),
]
ALARM_STATUS_INDEX = 8

# --------------------------------------------------------------------------
# Scope quantities, block [<4>]: type, name, min, max (raw register units).
# Consecutive registers from SCOPE_BASE so nearby channels read in one request.
# --------------------------------------------------------------------------

SCOPE_BASE = 8192

SCOPE = [
    ("INT16S", ("电机转速(rpm)", "Motor speed (rpm)"), -6000, 6000),
    ("INT16S", ("速度指令(rpm)", "Speed command (rpm)"), -6000, 6000),
    ("INT16S", ("转矩指令(0.1%)", "Torque command (0.1%)"), -3000, 3000),
    ("INT16S", ("输出转矩(0.1%)", "Output torque (0.1%)"), -3000, 3000),
    ("INT16S", ("U相电流(0.1A)", "Phase U current (0.1 A)"), -300, 300),
    ("INT16S", ("V相电流(0.1A)", "Phase V current (0.1 A)"), -300, 300),
    ("INT32S", ("位置偏差(指令单位)", "Following error (cmd unit)"), -5000, 5000),
    ("INT32S", ("位置反馈(指令单位)", "Position feedback (cmd unit)"), -100000, 100000),
    ("INT16U", ("母线电压(0.1V)", "DC bus voltage (0.1 V)"), 0, 4000),
    ("INT16S", ("位置指令速度(rpm)", "Position command speed (rpm)"), -6000, 6000),
    ("INT16U", ("输入端子状态", "Input terminals"), 0, 255),
    ("INT16U", ("输出端子状态", "Output terminals"), 0, 63),
]

# --------------------------------------------------------------------------
# Alarms, block [<5>]. The drive reports the code; the table is indexed by it,
# so entry i has code i.
# --------------------------------------------------------------------------

ALARMS = [
    (("无报警", "驱动器工作正常。"), ("No alarm", "The drive is working normally.")),
    (("过电流", "1.输出U、V、W相间或对地短路；2.电机绕组损坏；3.增益过高引起振荡；4.功率模块损坏。"),
     ("Overcurrent", "1. Short circuit between U, V, W or to earth; 2. damaged motor winding; "
      "3. oscillation from too high gains; 4. damaged power module.")),
    (("过电压", "1.电源电压过高；2.减速时间过短，再生能量过大；3.再生电阻未接或阻值过大。"),
     ("Overvoltage", "1. Supply voltage too high; 2. deceleration too short, too much regenerated energy; "
      "3. regenerative resistor missing or too large.")),
    (("欠电压", "1.电源电压过低或瞬时停电；2.主回路接线松动；3.欠压阈值设定过高。"),
     ("Undervoltage", "1. Supply voltage too low or a short power loss; 2. loose main circuit wiring; "
      "3. undervoltage level set too high.")),
    (("过载", "1.负载过重或长时间超过额定转矩运行；2.抱闸未打开；3.电机接线相序错误；4.增益不当引起振动。"),
     ("Overload", "1. Load too heavy or long operation above rated torque; 2. brake not released; "
      "3. wrong motor phase order; 4. vibration from unsuitable gains.")),
    (("超速", "1.电机转速超过超速报警阈值；2.电机接线相序错误；3.速度指令过大或增益过高引起超调。"),
     ("Overspeed", "1. Motor speed above the overspeed level; 2. wrong motor phase order; "
      "3. speed command too high or overshoot from high gains.")),
    (("位置偏差过大", "1.负载过重或被卡住；2.位置增益过低；3.指令脉冲频率过高；4.位置偏差过大阈值过小。"),
     ("Following error too large", "1. Load too heavy or blocked; 2. position gain too low; "
      "3. command pulse frequency too high; 4. following error limit too small.")),
    (("编码器断线", "1.编码器电缆未连接或断线；2.编码器插头接触不良。"),
     ("Encoder disconnected", "1. Encoder cable missing or broken; 2. poor contact in the encoder connector.")),
    (("编码器通讯异常", "1.编码器电缆受干扰；2.屏蔽层未接地；3.编码器损坏。"),
     ("Encoder communication error", "1. Interference on the encoder cable; 2. shield not earthed; "
      "3. encoder damaged.")),
    (("主回路缺相", "1.三相电源缺相；2.单相供电时未关闭缺相检测。"),
     ("Input phase loss", "1. A supply phase is missing; 2. phase loss check left on with a single-phase supply.")),
    (("再生过载", "1.频繁启停或下降负载回馈能量过大；2.再生电阻功率不足；3.再生电阻参数设定错误。"),
     ("Regeneration overload", "1. Frequent starts and stops or an overhauling load; "
      "2. regenerative resistor too small; 3. resistor parameters set wrongly.")),
    (("驱动器过热", "1.环境温度过高；2.散热风扇故障；3.长时间过载运行。"),
     ("Drive overheated", "1. Ambient temperature too high; 2. cooling fan failed; 3. long overload.")),
    (("电机过热", "1.电机长时间过载；2.电机散热不良；3.电机温度传感器断线。"),
     ("Motor overheated", "1. Long motor overload; 2. poor motor cooling; 3. motor temperature sensor broken.")),
    (("EEPROM读写错误", "1.EEPROM写入时断电；2.EEPROM损坏。"),
     ("EEPROM error", "1. Power lost while writing the EEPROM; 2. EEPROM damaged.")),
    (("参数异常", "1.参数超出范围；2.软件升级后参数未初始化。执行恢复出厂值后重新上电。"),
     ("Parameter error", "1. Parameter out of range; 2. parameters not initialised after a firmware update. "
      "Restore the factory values and power up again.")),
    (("电流检测异常", "1.电流传感器故障；2.控制板损坏。"),
     ("Current detection error", "1. Current sensor fault; 2. control board damaged.")),
    (("对地短路", "1.电机动力线对地短路；2.电机绕组绝缘损坏。"),
     ("Earth fault", "1. Motor power cable shorted to earth; 2. motor winding insulation damaged.")),
    (("电子齿轮比设定错误", "电子齿轮比超出1/1000～8000的范围。"),
     ("Electronic gear setting error", "The electronic gear ratio is outside 1/1000 to 8000.")),
    (("正向超程", "正向超程信号P-OT有效，或正向软件限位动作。"),
     ("Forward overtravel", "The forward overtravel input P-OT is active, or the forward software limit was reached.")),
    (("反向超程", "反向超程信号N-OT有效，或反向软件限位动作。"),
     ("Reverse overtravel", "The reverse overtravel input N-OT is active, or the reverse software limit was reached.")),
    (("通讯超时", "伺服ON期间在通讯超时检测时间内未收到正确的通讯报文。"),
     ("Communication time-out", "No valid request within the communication time-out while the servo is on.")),
    (("编码器电池电压低", "1.多圈绝对值编码器电池电压低于3.0V；2.电池未连接。更换电池后需重新回原点。"),
     ("Encoder battery low", "1. Multi-turn encoder battery below 3.0 V; 2. battery not connected. "
      "Home the axis again after replacing the battery.")),
    (("原点回归超时", "1.原点开关未动作或接线错误；2.原点回归速度过低；3.原点回归超时时间过短。"),
     ("Homing time-out", "1. Home switch not reached or wired wrongly; 2. homing speed too low; "
      "3. homing time-out too short.")),
    (("控制电源异常", "1.控制电源电压过低；2.控制电源接线错误。"),
     ("Control supply error", "1. Control supply voltage too low; 2. control supply wired wrongly.")),
    (("堵转", "1.机械卡死；2.抱闸未打开；3.转矩限制过低。"),
     ("Motor stalled", "1. Mechanism jammed; 2. brake not released; 3. torque limit too low.")),
    (("电机编号不匹配", "1.电机编号设定错误；2.所接电机与驱动器功率不匹配。"),
     ("Motor code mismatch", "1. Wrong motor code; 2. the motor does not suit the drive's power rating.")),
]

# --------------------------------------------------------------------------
# Generation
# --------------------------------------------------------------------------

TYPE_RANGES = {
    "INT16S": (-32768, 32767),
    "INT16U": (0, 65535),
    "INT32S": (-2147483648, 2147483647),
    "INT32U": (0, 4294967295),
}
TYPE_SIZE = {"INT16S": 2, "INT16U": 2, "INT32S": 4, "INT32U": 4}


def lang_text(value, lang):
    """A (Chinese, English) pair or one text for both languages."""
    if isinstance(value, tuple):
        return value[0] if lang == "zh" else value[1]
    return value


def assign_registers():
    address = 0
    for prm in PARAMS:
        prm.address = address
        address += TYPE_SIZE[prm.type] // 2


def param_refs():
    return {prm.key: prm.number for prm in PARAMS}


def fill_refs(text):
    return text.format(**param_refs())


def check_field(text, where):
    for bad in ("[", "]", "#", "\r", "\n"):
        if bad in text:
            raise ValueError("%s: character %r not allowed in a field: %s" % (where, bad, text))


def field(text, where):
    check_field(text, where)
    return "[" + text + "]"


def build_language(lang):
    lines = [
        "; QX3 series AC servo drive, "
        + ("Chinese" if lang == "zh" else "English")
        + " language file.",
        "; Generated by scripts/make_sample_family.py; edit the generator, not this file.",
        "",
    ]

    lines.append("[<0>]")
    top = max(UI_TEXTS)
    for number in range(top + 1):
        text = fill_refs(lang_text(UI_TEXTS[number], lang)) if number in UI_TEXTS else ""
        lines.append("#%d%s" % (number, field(text, "UI %d" % number)))
    lines.append("#END")
    lines.append("")

    lines.append("[<1>]")
    for name, zh, en in MACROS:
        text = fill_refs(zh if lang == "zh" else en)
        lines.append("#%s=%s" % (name, field(text, "macro " + name)))
    lines.append("#END")
    lines.append("")

    lines.append("[<2>]")
    for prm in PARAMS:
        modes = " ".join(MODE_WORDS[m][0 if lang == "zh" else 1] for m in prm.modes)
        desc = prm.desc if isinstance(prm.desc, str) and prm.desc.startswith("%") \
            else fill_refs(lang_text(prm.desc, lang))
        fields = [prm.access, prm.type, str(prm.address), prm.number,
                  lang_text(prm.name, lang), modes, str(prm.lo), str(prm.hi),
                  str(prm.factory), lang_text(prm.unit, lang), "%" + prm.effect + "%", desc]
        lines.append("#" + "".join(field(f, prm.number) for f in fields))
    lines.append("#END")
    lines.append("")

    lines.append("[<3>]")
    address = STATUS_BASE
    for type_, name, divisor, unit in STATUS:
        fields = [type_, str(address), lang_text(name, lang), divisor, lang_text(unit, lang)]
        lines.append("#" + "".join(field(f, "status %d" % address) for f in fields))
        address += TYPE_SIZE[type_] // 2
    lines.append("#END")
    lines.append("")

    lines.append("[<4>]")
    address = SCOPE_BASE
    for type_, name, lo, hi in SCOPE:
        fields = [type_, str(address), lang_text(name, lang), str(lo), str(hi), "0"]
        lines.append("#" + "".join(field(f, "scope %d" % address) for f in fields))
        address += TYPE_SIZE[type_] // 2
    lines.append("#END")
    lines.append("")

    lines.append("[<5>]")
    for code, (zh, en) in enumerate(ALARMS):
        content, cause = zh if lang == "zh" else en
        fields = [str(code), content, cause]
        lines.append("#" + "".join(field(f, "alarm %d" % code) for f in fields))
    lines.append("#END")
    lines.append("")

    return "\ufeff" + "\r\n".join(lines)


def model_values(model_index):
    values = []
    for prm in PARAMS:
        values.append(prm.models[model_index] if prm.models else prm.factory)
    return values


def build_model_file():
    lines = []
    for index, model in enumerate(MODELS):
        lines.append("##%s," % model)
        for prm, value in zip(PARAMS, model_values(index)):
            lines.append("%s,%d" % (prm.number, value))
        lines.append("")
    return "\r\n".join(lines)


def validate_definitions():
    """Checks of the tables themselves, before anything is written."""
    errors = []
    numbers = set()
    keys = set()
    for prm in PARAMS:
        if prm.number in numbers:
            errors.append("%s: duplicate number" % prm.number)
        numbers.add(prm.number)
        if prm.key in keys:
            errors.append("%s: duplicate key %s" % (prm.number, prm.key))
        keys.add(prm.key)
        if prm.models is not None and len(prm.models) != len(MODELS):
            errors.append("%s: %d model values for %d models" % (prm.number, len(prm.models), len(MODELS)))
    # Numbers run P<group>.<index> with the index counting up from 00 in each group.
    expected = {}
    for prm in PARAMS:
        group, index = prm.number[1:].split(".")
        want = expected.get(group, 0)
        if int(index) != want:
            errors.append("%s: expected index %02d in group %s" % (prm.number, want, group))
        expected[group] = want + 1
    return errors


def write_files():
    assign_registers()
    errors = validate_definitions()
    if errors:
        for e in errors:
            print("error:", e, file=sys.stderr)
        sys.exit(1)
    os.makedirs(LANG_DIR, exist_ok=True)
    os.makedirs(os.path.dirname(MODEL_FILE), exist_ok=True)
    for lang in LANGS:
        with open(os.path.join(LANG_DIR, LANG_FILES[lang]), "wb") as f:
            f.write(build_language(lang).encode("utf-16-le"))
    with open(MODEL_FILE, "wb") as f:
        f.write(build_model_file().encode("ascii"))


# --------------------------------------------------------------------------
# Check: read the written files back the way the program reads them.
# --------------------------------------------------------------------------

def is_marker(text, i):
    return text[i] == "#" and (i == 0 or text[i - 1] != "\\")


def find_marker(text, start, end):
    i = start
    while True:
        i = text.find("#", i, end)
        if i < 0:
            return -1
        if is_marker(text, i):
            return i
        i += 1


def parse_number(s):
    """Leading blanks and a sign allowed; reading stops at the first non-digit."""
    s = s.lstrip(" \t")
    sign = 1
    if s[:1] in ("+", "-"):
        sign = -1 if s[0] == "-" else 1
        s = s[1:]
    digits = ""
    for ch in s:
        if not ch.isdigit():
            break
        digits += ch
    return sign * int(digits) if digits else 0


def read_language(path):
    """Returns {block number: (offset, entries)}; an entry is its list of field
    texts, a (name, value) pair in [<1>], a text or None in [<0>]."""
    with open(path, "rb") as f:
        data = f.read()
    text = data[: len(data) // 2 * 2].decode("utf-16-le")
    sections = {}
    pos = 0
    while True:
        head = text.find("[<", pos)
        if head < 0:
            break
        close = text.find(">]", head)
        if close < 0:
            break
        number = parse_number(text[head + 2:close])
        body_end = text.find("#END", close)
        first = find_marker(text, close + 2, len(text))
        if body_end < 0 or first < 0 or first > body_end:
            pos = close + 2
            continue
        if number in sections:
            raise ValueError("%s: block [<%d>] twice" % (path, number))
        markers = []
        i = first
        while 0 <= i < body_end:
            markers.append(i)
            i = find_marker(text, i + 1, body_end)
        widths = {2: 12, 3: 5, 4: 6, 5: 3}
        entries = []
        for k, m in enumerate(markers):
            region_end = markers[k + 1] if k + 1 < len(markers) else body_end
            region = text[m + 1:region_end]
            fields = []
            j = 0
            while True:
                a = region.find("[", j)
                if a < 0:
                    break
                b = region.find("]", a)
                if b < 0:
                    raise ValueError("%s: block [<%d>] entry %d: '[' without ']'" % (path, number, k))
                fields.append(region[a + 1:b])
                j = b + 1
            label = region[: region.find("[")] if "[" in region else region
            if number == 0:
                if len(fields) != 1:
                    raise ValueError("%s: UI entry %d has %d fields" % (path, k, len(fields)))
                entries.append(fields[0] if fields[0] else None)
            elif number == 1:
                name = label
                for stop in (" ", "\r", "="):
                    cut = name.find(stop)
                    if cut >= 0:
                        name = name[:cut]
                if "=" not in label or len(fields) != 1:
                    raise ValueError("%s: bad macro entry %d" % (path, k))
                entries.append((name, fields[0]))
            else:
                if len(fields) != widths.get(number, -1):
                    raise ValueError("%s: block [<%d>] entry %d has %d fields, %d expected"
                                     % (path, number, k, len(fields), widths.get(number, -1)))
                entries.append(fields)
        sections[number] = (head, entries)
        pos = body_end + 4
    return text, sections


def read_model_file(path, count):
    """Model value sets as the program reads them: [(name, [values])]."""
    with open(path, "rb") as f:
        data = f.read()
    data.decode("ascii")
    sets = []
    pos = 0
    while True:
        h = data.find(b"##", pos)
        if h < 0:
            break
        c = data.find(b",", h + 2)
        if c < 0:
            break
        name = data[h + 2:c].decode("ascii")
        pos = c + 1
        if not name:
            continue
        values = []
        complete = True
        for _ in range(count):
            pp = data.find(b"P", pos)
            cc = data.find(b",", pp + 1) if pp >= 0 else -1
            lf = data.find(b"\n", cc + 1) if cc >= 0 else -1
            if pp < 0 or cc < 0 or lf < 0:
                complete = False
                break
            values.append(parse_number(data[cc + 1:lf].decode("ascii")))
            pos = lf + 1
        sets.append((name, values))
        if not complete:
            break
    return sets


def in_type_range(type_, value):
    lo, hi = TYPE_RANGES[type_]
    return lo <= value <= hi


def check_files():
    problems = []

    def bad(msg):
        problems.append(msg)

    parsed = {}
    for lang in LANGS:
        path = os.path.join(LANG_DIR, LANG_FILES[lang])
        with open(path, "rb") as f:
            raw = f.read()
        if not raw.startswith(b"\xff\xfe"):
            bad("%s: no UTF-16LE byte-order mark" % path)
        text, sections = read_language(path)
        if "\n" in text.replace("\r\n", ""):
            bad("%s: line ends are not all CR LF" % path)
        for n in range(6):
            if n not in sections:
                bad("%s: block [<%d>] missing" % (path, n))
        if sections[1][0] > sections[2][0]:
            bad("%s: macros must come before the parameters" % path)
        parsed[lang] = sections

        ui = sections[0][1]
        for n in UI_REQUIRED:
            if n >= len(ui) or ui[n] is None:
                bad("%s: UI entry %d missing" % (path, n))
        for n, text_pair in UI_TEXTS.items():
            want = fill_refs(lang_text(text_pair, lang))
            if n >= len(ui) or ui[n] != want:
                bad("%s: UI entry %d is %r, expected %r" % (path, n, ui[n] if n < len(ui) else None, want))
        if len(ui) > 150:
            bad("%s: more than 150 UI entries" % path)
        if ui[104] is not None and not ui[104].isdigit():
            bad("%s: UI 104 is not a number" % path)

        macros = {name.upper(): value for name, value in sections[1][1]}
        params = sections[2][1]
        if not 60 <= len(params) <= 100:
            bad("%s: %d parameters" % (path, len(params)))
        next_address = 0
        total_bytes = 0
        for k, f in enumerate(params):
            access, type_, address, number = f[0], f[1], parse_number(f[2]), f[3]
            where = "%s: %s" % (path, number)
            if access not in ("R", "RW"):
                bad(where + ": access %r" % access)
            if type_ not in TYPE_SIZE:
                bad(where + ": type %r" % type_)
                continue
            if address != next_address:
                bad(where + ": register %d, expected %d" % (address, next_address))
            next_address = address + TYPE_SIZE[type_] // 2
            total_bytes += TYPE_SIZE[type_]
            lo, hi, fac = parse_number(f[6]), parse_number(f[7]), parse_number(f[8])
            for v in (lo, hi, fac):
                if not in_type_range(type_, v):
                    bad(where + ": %d does not fit %s" % (v, type_))
            if type_ in ("INT32U",) and hi > 2147483647:
                bad(where + ": maximum shows as a negative number")
            if not lo <= fac <= hi:
                bad(where + ": factory %d outside %d..%d" % (fac, lo, hi))
            for idx in (10, 11):
                v = f[idx]
                if v.startswith("%") and v.endswith("%") and len(v) > 1:
                    if v[1:-1].upper() not in macros:
                        bad(where + ": undefined macro %s" % v)
                elif "%" in v[:1]:
                    bad(where + ": field %d looks like a broken macro" % idx)
            if not f[4] or not f[5]:
                bad(where + ": name or applicable mode empty")
        if params and parse_number(params[0][2]) != 0:
            bad("%s: first parameter not at register 0" % path)
        span = next_address - 1
        if span > 251:
            bad("%s: register span %d" % (path, span))
        if total_bytes > 512:
            bad("%s: %d value bytes" % (path, total_bytes))
        if not any(f[1].startswith("INT32") for f in params):
            bad("%s: no 32-bit parameter" % path)
        for t in TYPE_SIZE:
            if not any(f[1] == t for f in params):
                bad("%s: no %s parameter" % (path, t))
        if not any(f[0] == "R" for f in params):
            bad("%s: no read-only parameter" % path)

        status = sections[3][1]
        if len(status) < 12:
            bad("%s: only %d status items" % (path, len(status)))
        # The status page takes the alarm code from item 8.
        if len(status) <= ALARM_STATUS_INDEX or status[ALARM_STATUS_INDEX][0] != "INT16U" \
                or "alarm" not in STATUS[ALARM_STATUS_INDEX][1][1].lower():
            bad("%s: status item %d is not the INT16U alarm code" % (path, ALARM_STATUS_INDEX))
        last = None
        for k, (type_, address, name, divisor, unit) in enumerate(status):
            a = parse_number(address)
            if last is not None and a <= last:
                bad("%s: status item %d not in ascending register order" % (path, k))
            last = a + TYPE_SIZE.get(type_, 2) // 2 - 1
            if divisor not in ("", "1") and "." not in divisor:
                bad("%s: status item %d divisor %r without a point" % (path, k, divisor))
            if "." in divisor and type_.startswith("INT32"):
                bad("%s: status item %d: a divisor shows only the low 16 bits" % (path, k))
        if status and status[-1][0].startswith("INT32"):
            bad("%s: last status item is 32-bit" % path)
        first_status = parse_number(status[0][1])
        if (last - first_status + 1) * 2 > 512:
            bad("%s: status block too long" % path)

        scope = sections[4][1]
        if len(scope) < 8:
            bad("%s: only %d scope quantities" % (path, len(scope)))
        prev = None
        for k, (type_, address, name, lo, hi, _) in enumerate(scope):
            a = parse_number(address)
            size = 4 if type_.upper() in ("INT32S", "INT32U") else 2
            if prev is not None and a != prev[0] + prev[1] // 2:
                bad("%s: scope row %d at %d, expected %d" % (path, k, a, prev[0] + prev[1] // 2))
            prev = (a, size)
            if float(lo) >= float(hi):
                bad("%s: scope row %d range %s..%s" % (path, k, lo, hi))

        alarms = sections[5][1]
        if len(alarms) < 20:
            bad("%s: only %d alarms" % (path, len(alarms)))
        for k, (code, content, cause) in enumerate(alarms):
            if int(float(code)) != k:
                bad("%s: alarm %d has code %s" % (path, k, code))
            if not content or not cause:
                bad("%s: alarm %d text empty" % (path, k))

    # Both languages describe the same drive.
    zh, en = parsed["zh"], parsed["en"]
    for idx in (0, 1, 2, 6, 7, 8):
        if [f[idx] for f in zh[2][1]] != [f[idx] for f in en[2][1]]:
            bad("parameter field %d differs between the languages" % idx)
    for s, idxs in ((3, (0, 1, 3)), (4, (0, 1, 3, 4)), (5, (0,))):
        if [[f[i] for i in idxs] for f in zh[s][1]] != [[f[i] for i in idxs] for f in en[s][1]]:
            bad("block [<%d>] data differ between the languages" % s)
    if [n for n, _ in zh[1][1]] != [n for n, _ in en[1][1]]:
        bad("macro names differ between the languages")
    for n in range(max(len(zh[0][1]), len(en[0][1]))):
        a = zh[0][1][n] if n < len(zh[0][1]) else None
        b = en[0][1][n] if n < len(en[0][1]) else None
        if (a is None) != (b is None):
            bad("UI entry %d present in one language only" % n)

    # Model value sets.
    with open(MODEL_FILE, "rb") as f:
        raw = f.read()
    if b"\n" in raw.replace(b"\r\n", b""):
        bad("%s: line ends are not all CR LF" % MODEL_FILE)
    params = zh[2][1]
    sets = read_model_file(MODEL_FILE, len(params))
    if len(sets) < 4:
        bad("%s: only %d models" % (MODEL_FILE, len(sets)))
    if len(sets) > 70:
        bad("%s: more than 70 models" % MODEL_FILE)
    if len({name for name, _ in sets}) != len(sets):
        bad("%s: duplicate model names" % MODEL_FILE)
    for name, values in sets:
        if len(values) != len(params):
            bad("%s: %s has %d values" % (MODEL_FILE, name, len(values)))
        for f, v in zip(params, values):
            lo, hi = parse_number(f[6]), parse_number(f[7])
            if not lo <= v <= hi:
                bad("%s: %s %s = %d outside %d..%d" % (MODEL_FILE, name, f[3], v, lo, hi))
    # Each model line must name the parameter it belongs to.
    text = raw.decode("ascii")
    for block in text.split("##")[1:]:
        rows = [r for r in block.split("\r\n")[1:] if r]
        if [r.split(",")[0] for r in rows] != [f[3] for f in params]:
            bad("%s: parameter numbers out of table order" % MODEL_FILE)
    distinct = sum(1 for i in range(len(params)) if len({vals[i] for _, vals in sets}) > 1)
    if distinct < 5:
        bad("%s: models barely differ" % MODEL_FILE)

    return problems, parsed, sets


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--check", action="store_true", help="only check the files in dist/")
    args = parser.parse_args()
    assign_registers()
    if not args.check:
        write_files()
    try:
        problems, parsed, sets = check_files()
    except (ValueError, KeyError, IndexError, UnicodeDecodeError, OSError) as e:
        problems = ["cannot read the files: %s" % e]
    for msg in problems:
        print("problem:", msg, file=sys.stderr)
    if problems:
        return 1
    params = parsed["zh"][2][1]
    last = params[-1]
    print("%d parameters at registers 0..%d, %d status items, %d scope quantities, "
          "%d alarms, %d models: ok"
          % (len(params), parse_number(last[2]) + TYPE_SIZE[last[1]] // 2 - 1,
             len(parsed["zh"][3][1]), len(parsed["zh"][4][1]), len(parsed["zh"][5][1]), len(sets)))
    return 0


if __name__ == "__main__":
    sys.exit(main())
