// Communications services of the device (serial ports).
#pragma once
