// The workload played when the runner is given none (the same as examples/tour.k5w).
#include "k5sim.h"

const char* k5sim_builtinWorkload() {
  return R"(class demo/Shape source=Shape.java
  method <init> ()V lines=0:10,4:11
  method area ()D lines=0:20,8:21,16:23
  field name Ljava/lang/String;
  field count I static
end
class demo/Circle super=demo/Shape source=Circle.java interfaces=java/lang/Comparable
  method <init> (D)V lines=0:5
  method area ()D lines=0:9
  method compute (II)I static lines=0:30,5:31
  method hash ()I native
  field radius D
  field ORIGIN Ldemo/Circle; static
  const class demo/Shape
  const string unit
end
class java/lang/K5VMInternals bytes=INTERNALS
end
load demo/Shape
load demo/Circle
load java/lang/K5VMInternals
start worker name=Worker-1 group=workers parent=main
worker call demo/Circle.compute(II)I pc=5
worker alloc c1 demo/Circle
worker call demo/Circle.area()D this=c1
worker newarray nums I 16
worker newarray names java/lang/String 4
worker newarray grid Z 3 dims=2
worker call demo/Circle.hash()I this=c1
worker return
worker return
worker return
main globalref g1 c1
main globalref w1 nums weak
main deleteref g1
main deleteref w1
main lock c1
worker lock c1
main unlock c1
worker unlock c1
worker lock nums
worker wait nums 5
worker unlock nums
gc move=c1 free=names
segment add extra size=65536
segment remove extra
worker jitload demo/Circle.area()D addr=0x4000 size=64
worker jitload - addr=0x5000 size=32 data=7
worker jitunload demo/Circle.area()D addr=0x4000
worker jitunload - addr=0x5000
worker jitevent demo/Circle.area()D
worker jitevent demo/Circle.area()D second
notification 0x1
datadump
unload demo/Circle
worker end
shutdown 0
)";
}
