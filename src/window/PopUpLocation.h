#pragma once

// Where a monitor combo box opens its pop-up, relative to itself.
enum class PopUpLocation : int
{
    Above = 0,
    Below = 1,
    Left = 2,
    Right = 3,
};
