#pragma once

// The two web pages the service renders for the stream.
enum class Overlay { Card, Board };
