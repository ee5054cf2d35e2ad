// Resource ids of the registry scripts (resource type "REGISTRY").
#pragma once

#define IDR_TERVOLIN 101          // the application id
#define IDR_SERIALCONNECTION 102  // class script of CSerialConnection
#define IDR_SERIALINTERPRETER 103 // class script of CSerialInterpreter
